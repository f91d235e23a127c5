// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What tests put in place of the user for modal questions (message boxes, file dialogs). While
// a script exists it answers every request of its kind instead of a dialog: from its queue in
// order, or from a function, and when neither has an answer, with the kind's fallback. Every
// request is recorded. Scripts nest: the newest answers, and the previous one is back when it goes.
#include <QList>

#include <functional>
#include <utility>

template <class TRequest, class TAnswer>
class TAnswerScript {
public:
    using TAnswerFn = std::function<TAnswer(const TRequest&)>;

    TAnswerScript(QList<TAnswer> answers, TAnswerFn fallback)
        : FAnswers(std::move(answers)), FFallback(std::move(fallback)), FPrevious(FCurrent)
    {
        FCurrent = this;
    }
    TAnswerScript(TAnswerFn answer, TAnswerFn fallback)
        : FAnswerFn(std::move(answer)), FFallback(std::move(fallback)), FPrevious(FCurrent)
    {
        FCurrent = this;
    }
    ~TAnswerScript() { FCurrent = FPrevious; }
    TAnswerScript(const TAnswerScript&) = delete;
    TAnswerScript& operator=(const TAnswerScript&) = delete;

    // The script that answers now; null when the user does.
    static TAnswerScript* Current() { return FCurrent; }

    void Enqueue(TAnswer answer) { FAnswers.append(std::move(answer)); }
    // Every request asked while the script was installed, oldest first.
    const QList<TRequest>& Asked() const { return FAsked; }

    TAnswer Answer(const TRequest& request)
    {
        FAsked.append(request);
        if (FAnswerFn)
            return FAnswerFn(request);
        if (!FAnswers.isEmpty())
            return FAnswers.takeFirst();
        return FFallback(request);
    }

private:
    static inline TAnswerScript* FCurrent = nullptr;
    QList<TAnswer> FAnswers;
    TAnswerFn FAnswerFn;
    TAnswerFn FFallback;
    QList<TRequest> FAsked;
    TAnswerScript* FPrevious;
};
