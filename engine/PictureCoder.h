// Codes one picture whose motion estimation, prediction and prediction-error
// blocks are ready: picture headers, per-macroblock quantiser, pre-test and
// forward transform, quantisation, skipping and the macroblock layer.
#pragma once

#include <cstdint>

// Set by the encoder set-up: the significance pre-test factors of I and P
// pictures and of B pictures.
extern int PretestFactorIP, PretestFactorB;
// The rows of prediction and error blocks still being formed while the
// picture is coded, or null when they are all done.
class RowStream;
extern RowStream* CodingRowsInFlight;
// The rows of the reconstruction that follow the coding loop: each row is
// released to them once it is coded (null: the picture is rebuilt afterwards).
extern RowStream* ReconstructionRowsInFlight;

// One macroblock of quantised blocks, and which blocks were transformed.
extern const uint8_t ZigzagScanTable[64];
extern int16_t QuantizedBlockBuffer[6 * 64];
extern int BlockSignificant[6];
extern int DcPredictors[3];

void PutPicture();
void PutIntraBlock(const int16_t* block, int component);
void PutNonIntraBlock(const int16_t* block);
void PutMotionVector(int difference, int fCode);
// Rebuilds both coefficient masks for the doubled quantiser m.
void BuildCoefficientMasks(int m, int pictureType, int overload);

