// Which of the picture library's loaders the host reads through, and which
// one a picture is for, judged from its first bytes.
#pragma once

#include <cstddef>
#include <cstdint>

// Enough of a picture's start for every loader read through to tell its own.
inline constexpr size_t kSniffBytes = 4096;

// The formats read, as a message names them.
inline constexpr const char* kReadFormats =
    "JPEG, PNG, TIFF, WebP, HEIF/AVIF, GIF, JPEG XL and PNM (PBM, PGM, PPM, PFM)";

// Keeps the library from running any loader but ours, whoever asks it: its
// other loaders render documents, follow references to other files or take
// whatever bytes they are given. Needs the library started.
void RestrictPictureLoaders();

// The `*_source` operation of the loader that reads a picture starting with
// `prefix`, asking only the loaders read through; nullptr for anything else.
const char* FindPictureLoader(const uint8_t* prefix, size_t size);
