// A document and its view with the effect commands attached, every dialog, message box and
// file request going to a scripted host while the fixture lives.
#pragma once

#include <memory>

#include "CommonDialogs.h"
#include "EffectCommands.h"
#include "HeadlessWindowHost.h"
#include "ImageView.h"
#include "MessageBox.h"
#include "ModelessDialog.h"

struct TViewFixture {
    // The layers bottom first; the view opens at once unless there are none yet.
    explicit TViewFixture(std::unique_ptr<TLayer> bg = nullptr,
                          std::unique_ptr<TLayer> up = nullptr)
        : doc(std::make_unique<TImageDoc>()), host({200, 150}) {
        oldBoxes = SetMessageBoxHost(&boxes);
        oldDialogs = SetDialogHost(&dialogs);
        oldModeless = SetModelessHost(&modeless);
        oldFiles = SetCommonDialogs(&files);
        if (bg) doc->Image.Layers.Append(std::move(bg));
        if (up) doc->Image.Layers.Append(std::move(up));
        if (doc->Image.Count()) Open();
    }
    ~TViewFixture() {
        SetMessageBoxHost(oldBoxes);
        SetDialogHost(oldDialogs);
        SetModelessHost(oldModeless);
        SetCommonDialogs(oldFiles);
    }
    TViewFixture(const TViewFixture&) = delete;
    TViewFixture& operator=(const TViewFixture&) = delete;
    void Open() {
        view = std::make_unique<TImageView>(*doc, host);
        AttachEffectCommands(*view);
    }
    TLayer& Layer(int i = 0) { return *doc->Image.Layers.At(i); }

    THeadlessMessageBoxes boxes;
    THeadlessDialogHost dialogs;
    THeadlessModelessHost modeless;
    THeadlessCommonDialogs files;
    IMessageBoxHost* oldBoxes = nullptr;
    IDialogHost* oldDialogs = nullptr;
    IModelessHost* oldModeless = nullptr;
    ICommonDialogs* oldFiles = nullptr;
    std::unique_ptr<TImageDoc> doc;
    THeadlessWindowHost host;
    std::unique_ptr<TImageView> view;
};
