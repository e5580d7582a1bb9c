// Row operations: an object combines a source row into a destination row of
// the same length, pixel by pixel. Its implementation for a pair of pixel
// formats is looked up when it is bound to two rows, so one object serves
// every format pair it has an implementation for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "imagecore/CoreImage.h"
#include "imagecore/Formats.h"

class CProgressScale;

enum keRowOp : int {
  keRoNOP = 0,
  keRoChannelConstant = 1,
  keRoChannelLUT = 2,
  keRoChannelGet = 3,
  keRoChannelSet = 4,
  keRoChannelCopy = 5,
  keRoChannelMulEqual = 6,
  keRoChannelLinear = 7,
  keRoRowAdjustPsp = 8,
  keRoRowArithmetic = 9,
  keRoRowBlend = 10,
  keRoRowBlendPsp = 12,
  keRoRowBlendSolid = 13,
  keRoRowCopy = 14,
  keRoRowCopyIndexed = 15,
  keRoRowCopyPalettedWithTransparencyIndex = 16,
  keRoRowDematte = 17,
  keRoRowErase = 18,
  keRoRowFill = 19,
  keRoRowHSLAdjust = 20,
  keRoRowHSLCopyChannel = 21,
  keRoRowRGBAdjust = 22,
  keRoRowInvert = 23,
  keRoRowMask = 24,
  keRoRowMaskOverSolid = 25,
  keRoRowMatte = 26,
  keRoRowMulEqual = 27,
  keRoRowNoise = 28,
  keRoRowReplaceColor = 29,
  keRoRowPlusEqual = 30,
  keRoRowTurbulence = 31,
  keRoHighPass = 33,
};

// The kind's name for diagnostics; "Unknown" for values without a kind.
const char* RowOpName(keRowOp kind);

class CRowOperation;
struct CRowContext;

// One implementation: combines context.source into context.destination.
using RowFunction = void (*)(const CRowOperation& operation, CRowContext& context);

// What an implementation works on, filled by the driver for each row pair.
struct CRowContext {
  keFormat destinationFormat = keFormatNone;
  int count = 0;  // pixels in both rows
  uint8_t* destination = nullptr;
  int destinationPaletteCount = 0;
  const uint8_t* destinationPalette = nullptr;
  keFormat sourceFormat = keFormatNone;
  const uint8_t* source = nullptr;
  int sourcePaletteCount = 0;
  const uint8_t* sourcePalette = nullptr;
  RowFunction implementation = nullptr;  // chosen by Bind
  // Where the destination row's first pixel lies in its image, for
  // operations whose result depends on the position (dissolve).
  int x = 0;
  int y = 0;
};

// A row of an implementation table. Variant 0 is the plain implementation;
// variant 1 is a processor-specific one, preferred where supported.
struct CRowImplementation {
  keFormat destinationFormat;
  keFormat sourceFormat;
  int variant;
  RowFunction function;
};

// The implementation for the pair, or null when the table has none.
RowFunction LookUpImplementation(const CRowImplementation* table, size_t rows, keFormat destination,
                                 keFormat source);
// Whether variant 1 implementations may run on this processor.
bool ProcessorVariantsSupported();
// 0 forbids them, 1 allows them, -1 asks the processor again.
void SetProcessorVariantsForTesting(int allowed);

class CRowOperation {
 public:
  explicit CRowOperation(keRowOp kind) : m_kind(kind) {}
  virtual ~CRowOperation() = default;

  // A new object of the same kind with the same parameters, unbound.
  virtual std::unique_ptr<CRowOperation> Clone() const;
  // Chooses the implementation for the context's formats and stores it in
  // the context; false when there is none.
  virtual bool Bind(CRowContext& context);
  // Forgets what the last Bind chose.
  virtual void ResetBinding() {}
  // The implementation for a (destination, source) pair; the kinds without
  // implementations answer null for every pair.
  virtual RowFunction LookUp(keFormat destination, keFormat source) const;

  keRowOp Kind() const { return m_kind; }

 protected:
  CRowOperation(const CRowOperation&) = default;
  CRowOperation& operator=(const CRowOperation&) = default;

 private:
  keRowOp m_kind;
};

// Binds the operation to the context. When no implementation exists and
// `quiet` is false, a "Missing Row Operation" box names the kind and the two
// formats. On failure the context holds no implementation.
bool BindRowOperation(CRowOperation& operation, CRowContext& context, bool quiet);
// Runs a bound context; an unbound one leaves the destination row unchanged.
void RunRowOperation(const CRowOperation& operation, CRowContext& context);

// Applies the operation between two rectangles of equal size, given in each
// image's own coordinates (null: the whole image), row by row through the
// row protocol in the images' view formats. A progress scale, when given,
// receives a child with one step per row; a request to stop ends the run.
// True when every row was processed; false for rectangles of unequal size or
// outside their images, a row that could not be had, a missing
// implementation (the run stops at the first, so its box is shown once) or
// a stop request.
bool ApplyRowOperation(CRowOperation& operation, CCoreImage& destination, CCoreImage& source,
                       const CoreRect* destinationRect, const CoreRect* sourceRect,
                       CProgressScale* scale, bool quiet = false);
