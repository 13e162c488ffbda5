#include "QtCommonDialogs.h"

#include <QColorDialog>
#include <QFileDialog>

#include <memory>

#include "QtConvert.h"
#include "QtImageOpenPreview.h"

namespace {

// Runs the file dialog set up from the request; false when cancelled.
bool RunFileDialog(QWidget* parent, const TFileDialogRequest& request, QFileDialog::AcceptMode mode,
                   TFileDialogResult& result) {
    QFileDialog dialog(parent, ToQString(request.Caption), ToQString(request.InitialDir));
    dialog.setAcceptMode(mode);
    const QStringList filters = QtNameFilters(request.Filters);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        if (request.FilterIndex >= 0 && request.FilterIndex < filters.size())
            dialog.selectNameFilter(filters[request.FilterIndex]);
    }
    if (mode == QFileDialog::AcceptOpen) {
        dialog.setFileMode(request.MultipleSelection ? QFileDialog::ExistingFiles
                                                     : QFileDialog::ExistingFile);
        if (request.ImagePreview) AttachImagePreview(dialog);
    } else {
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.OverwritePrompt);
    }
    if (!request.DefaultExt.empty()) dialog.setDefaultSuffix(ToQString(request.DefaultExt));
    // The suffix follows the type: a bare name typed with PNG selected is "name.png", not
    // the name with the extension of the type the dialog opened with.
    if (mode == QFileDialog::AcceptSave) {
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog, &request, filters](const QString& filter) {
                             const qsizetype i = filters.indexOf(filter);
                             if (i < 0 || size_t(i) >= request.Filters.size()) return;
                             const std::string& ext = request.Filters[size_t(i)].DefaultExt;
                             dialog.setDefaultSuffix(ToQString(ext));
                         });
    }
    if (!request.FileName.empty()) dialog.selectFile(ToQString(request.FileName));
    if (dialog.exec() != QDialog::Accepted) return false;

    result = TFileDialogResult{};
    for (const QString& path : dialog.selectedFiles()) result.Paths.push_back(path.toStdString());
    const qsizetype chosen = filters.indexOf(dialog.selectedNameFilter());
    result.FilterIndex = chosen >= 0 ? int(chosen) : request.FilterIndex;
    return !result.Paths.empty();
}

std::unique_ptr<QtCommonDialogs> g_installed;
ICommonDialogs* g_previous = nullptr;

} // namespace

QStringList QtNameFilters(const std::vector<TFileFilter>& filters) {
    QStringList out;
    for (const TFileFilter& f : filters) {
        QStringList patterns;
        for (const QString& p : ToQString(f.Patterns).split(';', Qt::SkipEmptyParts))
            patterns << p.trimmed();
        out << QStringLiteral("%1 (%2)").arg(ToQString(f.Description), patterns.join(' '));
    }
    return out;
}

bool QtCommonDialogs::GetOpenFileNames(const TFileDialogRequest& request,
                                       TFileDialogResult& result) {
    return RunFileDialog(parent_, request, QFileDialog::AcceptOpen, result);
}

bool QtCommonDialogs::GetSaveFileName(const TFileDialogRequest& request,
                                      TFileDialogResult& result) {
    return RunFileDialog(parent_, request, QFileDialog::AcceptSave, result);
}

bool QtCommonDialogs::ChooseColor(COLORREF& color, TCustomColors& custom) {
    // Qt keeps the custom colours for the whole application; they are loaded from and
    // stored back to the program's own set so both stay the same.
    for (int i = 0; i < int(custom.size()) && i < QColorDialog::customCount(); ++i) {
        const COLORREF c = custom[size_t(i)];
        QColorDialog::setCustomColor(i, ToQColor(c));
    }
    QColorDialog dialog(ToQColor(color), parent_);
    const bool ok = dialog.exec() == QDialog::Accepted;
    for (int i = 0; i < int(custom.size()) && i < QColorDialog::customCount(); ++i) {
        const QColor c = QColorDialog::customColor(i);
        custom[size_t(i)] = ToColorRef(c);
    }
    if (!ok) return false;
    const QColor c = dialog.selectedColor();
    color = ToColorRef(c);
    return true;
}

void InstallQtCommonDialogs(QWidget* parent) {
    auto dialogs = std::make_unique<QtCommonDialogs>(parent);
    ICommonDialogs* old = SetCommonDialogs(dialogs.get());
    if (!g_installed) g_previous = old;
    g_installed = std::move(dialogs);
}

void UninstallQtCommonDialogs() {
    if (!g_installed) return;
    SetCommonDialogs(g_previous);
    g_previous = nullptr;
    g_installed.reset();
}
