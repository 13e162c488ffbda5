// The common dialogs on the desktop: Qt's file dialog for opening and saving, Qt's colour
// dialog for choosing a colour.
#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include "CommonDialogs.h"

class QtCommonDialogs : public ICommonDialogs {
public:
    explicit QtCommonDialogs(QWidget* parent = nullptr) : parent_(parent) {}

    bool GetOpenFileNames(const TFileDialogRequest& request, TFileDialogResult& result) override;
    bool GetSaveFileName(const TFileDialogRequest& request, TFileDialogResult& result) override;
    bool ChooseColor(COLORREF& color, TCustomColors& custom) override;

private:
    QPointer<QWidget> parent_;
};

// A type list as Qt's file dialog takes it: "Description (*.a *.b)" per line.
QStringList QtNameFilters(const std::vector<TFileFilter>& filters);

// Makes these the dialogs of the program (CommonDialogs()), owned until uninstalled.
void InstallQtCommonDialogs(QWidget* parent = nullptr);
void UninstallQtCommonDialogs();
