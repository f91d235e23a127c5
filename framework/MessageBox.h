#pragma once
// The one entry point for message boxes. Normally a modal QMessageBox; when a test installs a
// script, the script answers instead and every question asked is recorded.
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

enum class TMsgButtons { OK, OKCancel, YesNo, YesNoCancel };
enum class TMsgIcon { None, Information, Question, Warning, Error };
enum class TMsgResult { OK, Cancel, Yes, No };

TMsgResult MessageBox(QWidget* parent, const QString& text, const QString& caption,
                      TMsgButtons buttons = TMsgButtons::OK, TMsgIcon icon = TMsgIcon::None);

struct TMessageBoxRequest {
    QPointer<QWidget> Parent;
    QString Text;
    QString Caption;
    TMsgButtons Buttons = TMsgButtons::OK;
    TMsgIcon Icon = TMsgIcon::None;
};

// While one exists, MessageBox asks it instead of showing a box. It answers from its queue, in
// order; once the queue is empty it presses the box's default button (OK, or Yes). Scripts nest:
// the newest one answers, and the previous one is back when it goes.
class TMessageBoxScript {
public:
    explicit TMessageBoxScript(QList<TMsgResult> answers = {});
    // A function instead of a queue, for answers that depend on the question.
    explicit TMessageBoxScript(std::function<TMsgResult(const TMessageBoxRequest&)> answer);
    ~TMessageBoxScript();
    TMessageBoxScript(const TMessageBoxScript&) = delete;
    TMessageBoxScript& operator=(const TMessageBoxScript&) = delete;

    void Enqueue(TMsgResult answer) { FAnswers.append(answer); }
    // Every box asked while the script was installed, oldest first.
    const QList<TMessageBoxRequest>& Asked() const { return FAsked; }
    QStringList Texts() const;

    TMsgResult Answer(const TMessageBoxRequest& request);

private:
    QList<TMsgResult> FAnswers;
    std::function<TMsgResult(const TMessageBoxRequest&)> FAnswerFn;
    QList<TMessageBoxRequest> FAsked;
    TMessageBoxScript* FPrevious;
};
