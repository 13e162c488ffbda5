#include "ErrorDisplay.h"

#include "ErrorCodes.h"

TXLeadLib::TXLeadLib(std::string path, int code)
    : std::runtime_error(ToolkitErrorText(code, path)), path_(std::move(path)), code_(code) {}

std::string ToolkitErrorText(int code, const std::string& prefix) {
    std::string message = L_ErrorMessage(code);
    if (prefix.empty()) return message;
    return prefix + ":\n" + message;
}

void ShowToolkitError(int code, const std::string& caption, const std::string& prefix) {
    MessageBoxHost().Show(ToolkitErrorText(code, prefix), caption, TMbButtons::Ok,
                          TMbIcon::Exclamation);
}

void ShowToolkitError(const TXLeadLib& e, const std::string& caption) {
    ShowToolkitError(e.Code(), caption, e.Path());
}
