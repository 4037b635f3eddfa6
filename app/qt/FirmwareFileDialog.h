#pragma once

#include <memory>

#include <QFileDialog>
#include <QString>

namespace kestrel {

// The one filter of the file-open dialog. Its label is the part before the last
// parentheses; the patterns in them also take upper-case extensions.
inline constexpr char kFirmwareFilter[] = "Firmware Files (*.bin,*.mot) (*.bin *.mot *.BIN *.MOT)";

// A file-open dialog for existing files only, with no default extension and no
// initial name, whose filter list shows exactly "Firmware Files (*.bin,*.mot)".
std::unique_ptr<QFileDialog> CreateFirmwareFileDialog(QWidget* parent, const QString& folder = QString());

// Runs that dialog modally, opened in `folder` when one is given: the full
// path of the confirmed file, or an empty string when the user cancelled.
QString ChooseFirmwareFile(QWidget* parent, const QString& folder);

}  // namespace kestrel
