// The viewer's application-wide objects: the data facade of the open log and the informer.
// Created by InitGlobals at start-up, before the main window, and freed by DoneGlobals once
// the main window has gone; the windows are handed the data, they do not reach for it here.
#pragma once

#include "Informer.h"
#include "LogData.h"

namespace velloran {

extern TData* GlobalData;
extern TrclInformer* GlobalInformer;

// Creates the informer (configured for the program) and then the data facade, each only
// when it does not exist yet.
void InitGlobals(TrclInformerProgramKind AProgramKind = TrclInformerProgramKind::ipkGui);
// Frees GlobalData, then GlobalInformer, and clears both references.
void DoneGlobals();

}  // namespace velloran
