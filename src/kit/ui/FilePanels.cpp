#include "kit/ui/FilePanels.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace kit {

namespace {

QString nameFilter(const std::vector<std::string>& types) {
    if (types.empty()) return {};
    QStringList globs;
    for (auto& t : types) globs << "*." + QString::fromStdString(t);
    return QString("Files (%1)").arg(globs.join(' '));
}

// Where the last panel the user confirmed was looking: the next panel without
// a folder of its own starts there (the process's working folder means
// nothing to a tray program).
QString& lastDirectory() {
    static QString dir;
    return dir;
}

void rememberDirectory(const QFileDialog& d) {
    lastDirectory() = d.directory().absolutePath();
}

// One dialog look everywhere (and one that tests can drive): the widget
// dialog, which also takes the save panel's accessory pop-up.
void common(QFileDialog& d, const std::string& title, const std::string& dir, const std::string& prompt,
            const std::vector<std::string>& types) {
    d.setOption(QFileDialog::DontUseNativeDialog);
    if (!title.empty()) d.setWindowTitle(QString::fromStdString(title));
    if (!dir.empty())
        d.setDirectory(QString::fromStdString(dir));
    else
        d.setDirectory(lastDirectory().isEmpty() || !QDir(lastDirectory()).exists() ? QDir::homePath()
                                                                                    : lastDirectory());
    if (!prompt.empty()) d.setLabelText(QFileDialog::Accept, QString::fromStdString(prompt));
    if (!types.empty()) d.setNameFilter(nameFilter(types));
}

}  // namespace

std::vector<std::string> OpenPanel::runModal() {
    QFileDialog d;
    common(d, title, directory, prompt, allowedTypes);
    d.setAcceptMode(QFileDialog::AcceptOpen);
    if (canChooseDirectories && !canChooseFiles) {
        d.setFileMode(QFileDialog::Directory);
        d.setOption(QFileDialog::ShowDirsOnly);
    } else {
        d.setFileMode(allowsMultipleSelection ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    }
    std::vector<std::string> out;
    if (d.exec() != QDialog::Accepted) return out;
    rememberDirectory(d);
    for (const QString& f : d.selectedFiles()) out.push_back(f.toStdString());
    return out;
}

std::optional<std::string> SavePanel::runModal() {
    QFileDialog d;
    dialog_ = &d;
    common(d, title, directory, prompt, allowedTypes);
    d.setAcceptMode(QFileDialog::AcceptSave);
    d.setFileMode(QFileDialog::AnyFile);
    if (!allowedTypes.empty()) d.setDefaultSuffix(QString::fromStdString(allowedTypes.front()));
    if (!nameFieldValue.empty()) d.selectFile(QString::fromStdString(nameFieldValue));
    QComboBox* popup = nullptr;
    if (!accessoryItems.empty()) {
        if (auto* grid = qobject_cast<QGridLayout*>(d.layout())) {
            popup = new QComboBox(&d);
            popup->setObjectName("accessoryPopUp");
            for (auto& item : accessoryItems) popup->addItem(QString::fromStdString(item));
            popup->setCurrentIndex(std::clamp(accessorySelectedIndex, 0, int(accessoryItems.size()) - 1));
            int row = grid->rowCount();
            grid->addWidget(new QLabel(QString::fromStdString(accessoryLabel), &d), row, 0);
            grid->addWidget(popup, row, 1);
            QObject::connect(popup, &QComboBox::currentIndexChanged, &d, [this](int index) {
                accessorySelectedIndex = index;
                if (onAccessoryChange) onAccessoryChange(*this, index);
            });
        }
    }
    int result = d.exec();
    dialog_ = nullptr;
    if (popup) accessorySelectedIndex = popup->currentIndex();
    if (result != QDialog::Accepted || d.selectedFiles().isEmpty()) return std::nullopt;
    rememberDirectory(d);
    return d.selectedFiles().first().toStdString();
}

void SavePanel::setNameFieldValue(const std::string& name) {
    nameFieldValue = name;
    if (auto* d = static_cast<QFileDialog*>(dialog_))
        if (auto* edit = d->findChild<QLineEdit*>("fileNameEdit"))
            edit->setText(QString::fromStdString(name));
}

void SavePanel::setAllowedTypes(const std::vector<std::string>& types) {
    allowedTypes = types;
    auto* d = static_cast<QFileDialog*>(dialog_);
    if (!d) return;
    d->setNameFilter(nameFilter(types));
    d->setDefaultSuffix(types.empty() ? QString() : QString::fromStdString(types.front()));
}

}  // namespace kit
