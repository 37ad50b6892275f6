#include "kit/ui/Alert.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace kit {

namespace {

// Escape goes to the button titled "Cancel", Return to the first button;
// with no key equivalents neither key answers, unless Escape may still cancel.
class AlertDialog : public QDialog {
public:
    int cancelIndex = -1;
    bool keys = true;
    bool escapeCancels = false;
    std::vector<QPushButton*> buttons;
    int result = -1;

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape) {
            if ((keys || escapeCancels) && cancelIndex >= 0) buttons[size_t(cancelIndex)]->click();
            e->accept();
            return;
        }
        if (!keys && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
            e->accept();
            return;
        }
        QDialog::keyPressEvent(e);
    }
};

QStyle::StandardPixmap iconFor(Alert::Style s) {
    switch (s) {
        case Alert::Style::Informational:
            return QStyle::SP_MessageBoxInformation;
        case Alert::Style::Critical:
            return QStyle::SP_MessageBoxCritical;
        case Alert::Style::Warning:
            break;
    }
    return QStyle::SP_MessageBoxWarning;
}

}  // namespace

void Alert::setAccessoryTextField(std::string initial, std::string placeholder) {
    textField_ = std::move(initial);
    placeholder_ = std::move(placeholder);
}

int Alert::runModal() {
    if (buttons_.empty()) buttons_.push_back("OK");
    AlertDialog dlg;
    dlg.keys = !noKeyEquivalents;
    dlg.escapeCancels = cancelOnEscape;
    dlg.setWindowTitle(QString::fromStdString(messageText));
    dlg.setWindowFlag(Qt::WindowStaysOnTopHint);
    dlg.setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* outer = new QHBoxLayout(&dlg);
    if (showsIcon) {
        auto* icon = new QLabel;
        icon->setPixmap(dlg.style()->standardIcon(iconFor(style)).pixmap(48, 48));
        icon->setAlignment(Qt::AlignTop);
        outer->addWidget(icon);
    }
    auto* column = new QVBoxLayout;
    outer->addLayout(column);

    auto* title = new QLabel(QString::fromStdString(messageText));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setWordWrap(true);
    title->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(title);
    if (!informativeText.empty()) {
        auto* text = new QLabel(QString::fromStdString(informativeText));
        text->setWordWrap(true);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        text->setMinimumWidth(260);
        column->addWidget(text);
    }
    QLineEdit* field = nullptr;
    if (textField_) {
        field = new QLineEdit(QString::fromStdString(*textField_));
        field->setPlaceholderText(QString::fromStdString(placeholder_));
        field->setMinimumWidth(260);
        column->addWidget(field);
    }

    // The first button sits rightmost, the others to its left in order.
    auto* row = new QHBoxLayout;
    row->addStretch();
    column->addLayout(row);
    for (size_t i = 0; i < buttons_.size(); ++i) {
        auto* b = new QPushButton(QString::fromStdString(buttons_[i]));
        b->setAutoDefault(false);
        dlg.buttons.push_back(b);
        if (dlg.cancelIndex < 0 &&
            QString::fromStdString(buttons_[i]).compare("Cancel", Qt::CaseInsensitive) == 0)
            dlg.cancelIndex = int(i);
        QObject::connect(b, &QPushButton::clicked, &dlg, [&dlg, i] {
            dlg.result = int(i);
            dlg.accept();
        });
    }
    for (auto it = dlg.buttons.rbegin(); it != dlg.buttons.rend(); ++it) row->addWidget(*it);
    if (dlg.keys) dlg.buttons.front()->setDefault(true);
    if (field) field->setFocus();

    dlg.exec();
    if (field) textField_ = field->text().toStdString();
    return dlg.result;
}

}  // namespace kit
