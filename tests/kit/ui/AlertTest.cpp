// Alerts answered by a timer that acts as the user on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "kit/ui/Alert.h"

using namespace kit;

namespace {

// Runs `act` on the alert's dialog once it is up.
void whenShown(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(w);
        }
    });
    timer->start();
}

QPushButton* button(QWidget* dlg, const QString& title) {
    for (auto* b : dlg->findChildren<QPushButton*>())
        if (b->text() == title) return b;
    return nullptr;
}

void key(QWidget* w, int k) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
}

}  // namespace

TEST(Alert, ReturnsTheIndexOfThePressedButton) {
    Alert a;
    a.messageText = "Delete?";
    a.informativeText = "It cannot be undone.";
    a.addButton("Delete");
    a.addButton("Keep");
    a.addButton("Cancel");
    whenShown([](QWidget* d) { button(d, "Keep")->click(); });
    EXPECT_EQ(a.runModal(), 1);
    whenShown([](QWidget* d) { key(d, Qt::Key_Return); });
    EXPECT_EQ(a.runModal(), 0) << "Return presses the first button";
    whenShown([](QWidget* d) { key(d, Qt::Key_Escape); });
    EXPECT_EQ(a.runModal(), 2) << "Escape presses Cancel";
    whenShown([](QWidget* d) { d->close(); });
    EXPECT_EQ(a.runModal(), -1) << "closed without a button";
}

TEST(Alert, WithoutKeyEquivalentsKeysAnswerNothing) {
    Alert a;
    a.messageText = "Quit?";
    a.noKeyEquivalents = true;
    a.addButton("Quit");
    a.addButton("Cancel");
    whenShown([](QWidget* d) {
        key(d, Qt::Key_Return);
        key(d, Qt::Key_Escape);
        // Still up: answer with a click.
        if (d->isVisible()) button(d, "Cancel")->click();
    });
    EXPECT_EQ(a.runModal(), 1);
}

TEST(Alert, EscapeMayCancelAQuestionThatReturnCannotAnswer) {
    Alert a;
    a.messageText = "Allow?";
    a.noKeyEquivalents = true;
    a.cancelOnEscape = true;
    a.addButton("Allow");
    a.addButton("Cancel");
    bool stayedAfterReturn = false;
    whenShown([&](QWidget* d) {
        key(d, Qt::Key_Return);
        stayedAfterReturn = d->isVisible();
        key(d, Qt::Key_Escape);
    });
    EXPECT_EQ(a.runModal(), 1) << "Escape pressed Cancel";
    EXPECT_TRUE(stayedAfterReturn) << "Return answered the question";
}

TEST(Alert, TheIconCanBeLeftOut) {
    auto pictures = [](bool showsIcon) {
        Alert a;
        a.messageText = "Taken";
        a.style = Alert::Style::Warning;
        a.showsIcon = showsIcon;
        int n = -1;
        whenShown([&n](QWidget* d) {
            n = 0;
            for (auto* label : d->findChildren<QLabel*>()) n += !label->pixmap().isNull();
            button(d, "OK")->click();
        });
        a.runModal();
        return n;
    };
    EXPECT_EQ(pictures(true), 1);
    EXPECT_EQ(pictures(false), 0);
}

TEST(Alert, PromptsReturnTheEditedText) {
    Alert a;
    a.messageText = "Name";
    a.addButton("OK");
    a.addButton("Cancel");
    a.setAccessoryTextField("old", "type a name");
    whenShown([](QWidget* d) {
        auto* field = d->findChild<QLineEdit*>();
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->placeholderText(), "type a name");
        field->setText("new name");
        key(field, Qt::Key_Return);
    });
    EXPECT_EQ(a.runModal(), 0);
    EXPECT_EQ(a.textFieldValue(), "new name");
    Alert bare;
    whenShown([](QWidget* d) { button(d, "OK")->click(); });
    EXPECT_EQ(bare.runModal(), 0) << "an alert without buttons gets OK";
}
