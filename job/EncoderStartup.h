// The job's side of the encoder start-up.
#pragma once

// Installs what the engine (EngineJob) and the audio encoder (AudioPcmSource)
// reach the job through: the profile reader, the AVI input and its sound.
// InitEncoderLibrary does it first; a program that drives the engine without
// it calls this before InitEncoderTables.
void InstallJobHooks();
