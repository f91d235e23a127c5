// SPDX-License-Identifier: GPL-3.0-or-later
// Shows the panels the windows are built from, a shadow panel with captions and a form panel
// hosting a whole form, and saves a picture of them:
//   framora-panels OUT.png
// It runs on the offscreen platform unless QT_QPA_PLATFORM names another.
#include "components/UFormPanel.h"
#include "components/UShadowPanel.h"
#include "framework/TApplication.h"
#include "framework/TForm.h"

#include <QLabel>
#include <QPushButton>
#include <QTextStream>

namespace {

constexpr int kWindowWidth = 420;
constexpr int kWindowHeight = 260;

TShadowPanel* AddShadowPanel(QWidget* parent, const QRect& geometry, const QString& caption, TAlignmentEx alignment)
{
    auto* panel = new TShadowPanel(parent);
    panel->setGeometry(geometry);
    panel->Brush().SetColor(clBtnFace);
    panel->SetCaption(caption);
    panel->SetAlignment(alignment);
    return panel;
}

// The hosted form: a label and a button on a grey panel, as a form of its own would carry.
TForm* MakeHostedForm(QWidget* owner)
{
    auto* form = new TForm(owner);
    auto* base = new TShadowPanel(form);
    base->SetShadow(false);
    base->Brush().SetColor(0xB4B4B4);
    form->setCentralWidget(base);
    auto* label = new QLabel(QStringLiteral("A hosted form"), base);
    label->move(12, 12);
    auto* button = new QPushButton(QStringLiteral("Button"), base);
    button->move(12, 40);
    return form;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: framora-panels OUT.png\n";
        return 2;
    }
    RegisterFontSubstitutions();
    TForm window;
    window.resize(kWindowWidth, kWindowHeight);
    auto* client = new QWidget(&window);
    window.setCentralWidget(client);
    AddShadowPanel(client, {10, 10, 190, 40}, QStringLiteral("Left part\r\nright part"), TAlignmentEx::taeLeftRight);
    AddShadowPanel(client, {220, 10, 190, 40}, QStringLiteral("Centred caption"), TAlignmentEx::taeCenter);
    TShadowPanel* frame = AddShadowPanel(client, {10, 60, 400, 190}, {}, TAlignmentEx::taeLeftJustify);
    auto* formPanel = new TFormPanel(frame);
    formPanel->setGeometry(6, 6, 384, 174);
    formPanel->AlignOffset().SetLeft(8);
    formPanel->SetForm(MakeHostedForm(&window));
    window.show();
    if (!window.grab().save(args.at(1))) {
        QTextStream(stderr) << "cannot write " << args.at(1) << "\n";
        return 1;
    }
    return 0;
}
