// Block-matching search for one macroblock against one reference picture:
// the per-anchor feature tables, the ring search over them and the
// half-sample refinement.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/MotionKernels.h"

// Where the four planes of a motion-table buffer lie, for pictures of
// width x height luma samples (both multiples of 16).
struct MotionTableGeometry {
    int width = 0, height = 0;
    int featureStride = 0;  // bytes per row of the three feature planes: width - 8
    int featureRows = 0;    // height - 15
    int groupStride = 0;    // bytes per row of the group-bounds plane: width - 12
    int groupRows = 0;      // (height >> 2) - 3
    size_t horizontalOffset = 0, meanOffset = 0, verticalOffset = 0, groupOffset = 0;
    size_t totalBytes = 0;
};

MotionTableGeometry MakeMotionTableGeometry(int width, int height);

// The geometry of the current encoding, set by InitMotionEstimation.
extern MotionTableGeometry MeTableGeometry;

// Fills the four planes of `tables` from an anchor picture's source luma
// plane; bands of rows run on up to `helpers` idle workers (the result is the
// same with any number). The short form takes the encoding's geometry,
// kernels and the picture's row helpers.
void CalcMotionSearchTables(const uint8_t* source, uint8_t* tables);
void CalcMotionSearchTables(const uint8_t* source, uint8_t* tables,
                            const MotionTableGeometry& geometry, const MotionKernelTable& kernels, int helpers = 0);

// What a search reads besides its pictures, tables and match flags: the
// stage of the picture's search and the settings copied for it. Each search
// is handed its own copy, so a search running on a worker reads nothing the
// encoding thread writes meanwhile.
struct SearchWords {
    // 0 P picture or single-stage B picture; 1 first stage of a B picture
    // (the match windows are stored in the records); 2 its second stage
    // (they are read back).
    int stage = 0;
    int points = 32;          // full-sample evaluations before the search may end
    int thresholdScaled = 0;  // the bound at which it ends at once
    int windowTolerance = 0;  // widening of the match windows
};

// The words of the encoding thread's current search (MotionState's).
SearchWords CurrentSearchWords();
// The words the settings give, at `stage`.
SearchWords SearchWordsFromSettings(int stage = 0);

// Searches the reference around the block at column x, row y (multiples of 16)
// within +-rangeX, +-rangeY. Returns the error of the best half-sample
// position and that position, in absolute half-sample coordinates, in
// *bestX, *bestY; *zeroError (when given) receives the error of the zero vector.
// `matchWindows` is the macroblock's six-byte window record.
int MotionSearchMacroblock(const uint8_t* referenceSource, const uint8_t* referenceRecon,
                           const uint8_t* current, int x, int y, int rangeX, int rangeY,
                           int* bestX, int* bestY, int* zeroError, const uint8_t* tables,
                           int matchFlags, uint8_t* matchWindows, const SearchWords& words);
