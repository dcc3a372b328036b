// What a job tells and asks the user outside its passes: the refusals of a
// start, whether to encode a temporary file again, whether to delete an output
// that failed its checks, and a cut input. The reporters are in JobDriver.h.
#pragma once

#include <string>

#include "platform/MessageBox.h"

// The checks that need no file opened and would otherwise fail the job after its
// passes, or destroy the input; the refusal's text, empty when the job may start.
// An MPEG-1 system stream of MPEG-2 video becomes a program stream here.
std::string StartRefusal(bool multiplexed);
// The refusal of a job with sound whose temporary streams another running job holds, for
// a Start to give before it asks anything; "" when they are free now (the job takes them).
std::string TemporaryNamesInUse();
// A refusal of RunEncoding: box owned by the job's window, OK, no icon.
void RefuseStart(int boxText, int caption, int batchText);
// Asks whether an existing temporary file is to be encoded again; true for
// yes. A quiet batch never asks: it logs and encodes again.
bool EncodeAgain(const std::string& path, int longText, int shortText, int caption, int batchText);
// A Yes/No question after a failed check of the multiplexed output; Yes deletes it,
// No keeps it: in place when that holds no earlier file of the user's, else aside
// under a free name the user is told. What became of the output:
// Failed: the output that was to be kept could not be put in place (its message said why).
enum class CheckedOutput { Deleted, InPlace, KeptAside, Failed };
CheckedOutput OfferToDelete(int question, int caption, platform::MbIcon icon = platform::MbIcon::Question);
// Tells how many of the frames an AVI's headers name it still holds, when it was cut short.
void WarnOfCutInput();
