// What the Red Eye and Diffuse Outline commands check before their dialogs open.
#pragma once

class TImageView;

// Red eye works on the eye the user selected: without a selection it says so and the
// dialog does not open.
bool RedEyePrecheck(TImageView& view);
// Diffuse outline needs an alpha channel: below 32 bits it offers to convert the image,
// which is an undo step of its own ("Color Resolution"). False when the user declines.
bool DiffusePrecheck(TImageView& view);
