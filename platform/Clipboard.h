// The system clipboard. Content is a set of formats named by MIME type; the desktop puts
// them on the real clipboard, tests and scripts keep them in memory.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The private format: one layer block of the native file.
inline constexpr const char* kNativeClipboardMime = "application/x-quillo3-native";
// A picture for other programs, always as PNG bytes. Reading it takes any picture another
// program offers, whatever its type, turned into PNG by the clipboard.
inline constexpr const char* kPictureClipboardMime = "image/png";

class IClipboard {
public:
    using TFormats = std::map<std::string, std::vector<uint8_t>>;
    virtual ~IClipboard() = default;
    // Replaces the whole content. False when the clipboard could not be written.
    virtual bool Set(const TFormats& formats) = 0;
    virtual bool Has(const std::string& mime) const = 0;
    // Empty when the format is not there.
    virtual std::vector<uint8_t> Get(const std::string& mime) const = 0;
};

// Content held in this process only.
class TMemoryClipboard : public IClipboard {
public:
    bool Set(const TFormats& formats) override {
        formats_ = formats;
        return true;
    }
    bool Has(const std::string& mime) const override { return formats_.count(mime) != 0; }
    std::vector<uint8_t> Get(const std::string& mime) const override {
        auto it = formats_.find(mime);
        return it == formats_.end() ? std::vector<uint8_t>{} : it->second;
    }

private:
    TFormats formats_;
};

// The clipboard every part of the program uses; an in-memory one until a host installs
// its own.
IClipboard& Clipboard();
// Installs a clipboard (null restores the in-memory one); returns the previous one.
IClipboard* SetClipboard(IClipboard* clipboard);
