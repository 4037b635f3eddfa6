#include "app/qt/FirmwareFileDialog.h"

#include <QStringList>

namespace kestrel {

std::unique_ptr<QFileDialog> CreateFirmwareFileDialog(QWidget* parent, const QString& folder) {
    auto dialog = std::make_unique<QFileDialog>(parent);
    // Qt's own dialog: a platform dialog may show the patterns in the label.
    dialog->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setDefaultSuffix(QString());
    dialog->setNameFilter(QString::fromLatin1(kFirmwareFilter));
    if (!folder.isEmpty()) {
        dialog->setDirectory(folder);
    }
    return dialog;
}

QString ChooseFirmwareFile(QWidget* parent, const QString& folder) {
    const auto dialog = CreateFirmwareFileDialog(parent, folder);
    if (dialog->exec() != QDialog::Accepted) {
        return QString();
    }
    const QStringList chosen = dialog->selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

}  // namespace kestrel
