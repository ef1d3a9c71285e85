#pragma once

namespace ostrel {

// The maker's notice in the main window's banner and in the about box.
inline constexpr const char* kMakerNotice = "Copyright (C) Kivora";

// The maker's web page, opened from the about box's logo.
inline constexpr const char* kMakerUrl = "https://kivora.example.com/ostrel/";

// The version the about box names.
inline constexpr const char* kVersionText = "Version 2.00";

} // namespace ostrel
