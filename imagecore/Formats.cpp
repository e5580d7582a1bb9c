#include "Formats.h"

namespace {

struct FormatInfo {
  const char* name;
  int bpp;
  int bitsPerChannel;
  int channels;
};

constexpr FormatInfo kFormats[] = {
    {"keFormatNone", 0, 0, 0},        {"keFormatIndex1", 1, 1, 3},
    {"keFormatIndex4", 4, 4, 3},      {"keFormatIndex8", 8, 8, 3},
    {"keFormatIndex8A", 16, 8, 4},    {"keFormatGrey", 8, 8, 1},
    {"keFormatGreyA", 16, 8, 2},      {"keFormatBGR", 24, 8, 3},
    {"keFormatBGRA", 32, 8, 4},       {"keFormatBGRxA", 32, 8, 4},
    {"keFormatGrey_u16", 16, 16, 1},  {"keFormatGreyA_u16", 32, 16, 2},
    {"keFormatBGR_u16", 48, 16, 3},   {"keFormatBGRA_u16", 64, 16, 4},
    {"keFormatBGRxA_u16", 64, 16, 4}, {"keFormatGrey_f32", 32, 32, 1},
    {"keFormatGreyA_f32", 64, 32, 2}, {"keFormatBGR_f32", 96, 32, 3},
    {"keFormatBGRA_f32", 128, 32, 4}, {"keFormatBGRxA_f32", 128, 32, 4},
};

const FormatInfo* Info(keFormat format) {
  if (format < 0 || format > keFormatBGRxA_f32) return nullptr;
  return &kFormats[format];
}

}  // namespace

const char* FormatName(keFormat format) {
  if (format == keFormatCustom) return "keFormatCustom";
  const FormatInfo* info = Info(format);
  return info ? info->name : "<unknown";
}

int FormatBitsPerPixel(keFormat format) {
  const FormatInfo* info = Info(format);
  return info ? info->bpp : 0;
}

int FormatBitsPerChannel(keFormat format) {
  const FormatInfo* info = Info(format);
  return info ? info->bitsPerChannel : 0;
}

int FormatChannelCount(keFormat format) {
  const FormatInfo* info = Info(format);
  return info ? info->channels : 0;
}

bool FormatHasAlpha(keFormat format) {
  switch (format) {
    case keFormatIndex8A: case keFormatGreyA: case keFormatBGRA: case keFormatBGRxA:
    case keFormatGreyA_u16: case keFormatBGRA_u16: case keFormatBGRxA_u16:
    case keFormatGreyA_f32: case keFormatBGRA_f32: case keFormatBGRxA_f32:
      return true;
    default:
      return false;
  }
}

bool FormatIsIndexed(keFormat format) { return format >= keFormatIndex1 && format <= keFormatIndex8A; }

bool FormatIsGrey(keFormat format) {
  switch (format) {
    case keFormatGrey: case keFormatGreyA: case keFormatGrey_u16: case keFormatGreyA_u16:
    case keFormatGrey_f32: case keFormatGreyA_f32:
      return true;
    default:
      return false;
  }
}

bool FormatIs8Bit(keFormat format) { return format >= keFormatIndex8 && format <= keFormatBGRxA; }

bool FormatIs16Bit(keFormat format) { return format >= keFormatGrey_u16 && format <= keFormatBGRxA_u16; }

bool FormatIsStorable(keFormat format) { return format >= keFormatIndex1 && format <= keFormatBGRxA_u16; }

int FormatChannelPosition(keFormat format, int channelCode) {
  switch (format) {
    case keFormatIndex8A: case keFormatGreyA: case keFormatGreyA_u16: case keFormatGreyA_f32:
      return channelCode == 3 ? 1 : -1;
    case keFormatGrey: case keFormatGrey_u16: case keFormatGrey_f32:
      return -1;
    case keFormatBGR: case keFormatBGR_u16: case keFormatBGR_f32:
      return channelCode >= 0 && channelCode <= 2 ? channelCode : -1;
    case keFormatBGRA: case keFormatBGRxA: case keFormatBGRA_u16: case keFormatBGRxA_u16:
    case keFormatBGRA_f32: case keFormatBGRxA_f32:
      return channelCode >= 0 && channelCode <= 3 ? channelCode : -1;
    default:
      return -1;
  }
}
