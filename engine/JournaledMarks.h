// A marks image whose point writes are journaled, so that any earlier state
// of it can be returned to, and a later one again, without keeping copies
// of the image: a marking stroke writes one pixel per sample, and its undo
// costs a few bytes per sample instead of the whole picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "imagecore/CoreImage.h"

class CJournaledMarks {
 public:
  struct CGeneration;

  // One state of the marks: which image (none: no marks) and how many of its
  // journaled writes had been made. Holding a version keeps its image alive.
  struct CVersion {
    std::shared_ptr<CGeneration> generation;
    size_t writes = 0;
  };

  bool Exists() const { return m_generation != nullptr; }
  // Null when there are no marks.
  const CCoreImage* Image() const;

  // A new image of `width` x `height`, every pixel keMarkNone; versions of
  // the previous one stay valid.
  void Create(int width, int height);
  void Drop() { m_generation.reset(); }

  // Writes one pixel, remembering what it held. Writes after the current
  // version's (left by returning to an earlier one) are forgotten first.
  void Set(int x, int y, uint8_t mark);

  CVersion Version() const;
  // The image, and its pixels, as they were at `version`.
  void Restore(const CVersion& version);

  // Bytes the journal of this version's image holds (the image not counted).
  static size_t JournalBytes(const CVersion& version);

 private:
  std::shared_ptr<CGeneration> m_generation;
};

struct CJournaledMarks::CGeneration {
  struct CWrite {
    int x;
    int y;
    uint8_t before;
    uint8_t after;
  };
  CCoreImage image;
  std::vector<CWrite> writes;
  size_t made = 0;  // writes[0, made) are in the image
};
