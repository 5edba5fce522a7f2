#include "lightroom/ui/QuitLightroomQuestion.h"

#include "lightroom/LrPluginBridge.h"
#include "platform/core/Strings.h"

#include <QMessageBox>
#include <QPushButton>

namespace vornakel {
namespace {

QString text(const char* key)
{
    return GeneralUI::text(QString::fromLatin1(key));
}

} // namespace

QMessageBox* askToQuitLightroom(LrPluginBridge& bridge, QWidget* window, std::function<void(bool agreed)> answer)
{
    bridge.refreshLightroomIsRunning();
    if (!bridge.lightroomIsRunning()) {
        answer(true);
        return nullptr;
    }
    auto* question = new QMessageBox(QMessageBox::Question, text("QuitLightroomForPluginTitle"),
                                     text("QuitLightroomForPluginTitle"), QMessageBox::NoButton, window);
    question->setObjectName(QStringLiteral("quitLightroomQuestion"));
    question->setInformativeText(text("QuitLightroomForPluginInformativeText"));
    question->setTextFormat(Qt::PlainText);
    QPushButton* quit = question->addButton(text("QuitLightroomForPluginButtonTitle"), QMessageBox::AcceptRole);
    quit->setObjectName(QStringLiteral("quitLightroomButton"));
    QPushButton* keep = question->addButton(text("QuitLightroomForPluginCancelButtonTitle"), QMessageBox::RejectRole);
    keep->setObjectName(QStringLiteral("keepLightroomButton"));
    question->setDefaultButton(quit);
    question->setWindowModality(Qt::WindowModal);
    question->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(question, &QMessageBox::finished, question, [question, quit, answer = std::move(answer)](int) {
        answer(question->clickedButton() == quit);
    });
    question->open();
    return question;
}

} // namespace vornakel
