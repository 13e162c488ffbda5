// Showing toolkit failures to the user, and the exception that carries a failed file
// operation up to the code that reports it.
#pragma once

#include <stdexcept>
#include <string>

#include "MessageBox.h"

// A toolkit call on a file failed: the file and the toolkit's status code.
class TXLeadLib : public std::runtime_error {
public:
    TXLeadLib(std::string path, int code);
    const std::string& Path() const { return path_; }
    int Code() const { return code_; }

private:
    std::string path_;
    int code_;
};

// The message for a toolkit status code, prefixed with "prefix:\n" when a prefix is given.
std::string ToolkitErrorText(int code, const std::string& prefix = std::string());
// Shows that text with the exclamation icon and an OK button.
void ShowToolkitError(int code, const std::string& caption,
                      const std::string& prefix = std::string());
// A caught file failure: the message for its code, prefixed with the file's path.
void ShowToolkitError(const TXLeadLib& e, const std::string& caption);
