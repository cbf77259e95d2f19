#pragma once

struct _PDLData;

// The progress callback handed to the firmware-download library.
int getPDLData(_PDLData* data);
