// Constant code tables of the variable-length coder, indexed directly.
// An entry of length 0 has no code (the pair is escaped or never requested).
#pragma once

#include <cstdint>

struct VlcCode {
    uint16_t code;
    uint8_t length;
};

extern const VlcCode DcLumaVlcTable[12];
extern const VlcCode DcChromaVlcTable[12];
// Non-intra blocks, and intra blocks with intra_vlc_format 0.
extern const VlcCode AcCoeffVlcTable1[2][40];
extern const VlcCode AcCoeffVlcTable2[30][5];
// Intra blocks with intra_vlc_format 1.
extern const VlcCode AcCoeffIntraVlcTable1[2][40];
extern const VlcCode AcCoeffIntraVlcTable2[30][5];
extern const VlcCode AddressIncrementVlcTable[33];
extern const VlcCode MacroblockTypeVlcTable[3][32];
extern const VlcCode CodedBlockPatternVlcTable[64];
extern const VlcCode MotionCodeVlcTable[17];

// Codes outside the tables.
constexpr VlcCode CoefficientEscapeCode = {0b000001, 6};
constexpr VlcCode AddressEscapeCode = {0b00000001000, 11};
constexpr VlcCode EndOfBlockCode = {0b10, 2};
constexpr VlcCode IntraEndOfBlockCode = {0b0110, 4};  // intra_vlc_format 1
