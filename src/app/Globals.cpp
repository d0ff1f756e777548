#include "Globals.h"

namespace velloran {

TData* GlobalData = nullptr;
TrclInformer* GlobalInformer = nullptr;

void InitGlobals(TrclInformerProgramKind AProgramKind) {
  if (GlobalInformer == nullptr) {
    GlobalInformer = new TrclInformer(AProgramKind);
    ConfigureForProgram(*GlobalInformer);
  }
  if (GlobalData == nullptr) GlobalData = new TData();
}

void DoneGlobals() {
  delete GlobalData;
  GlobalData = nullptr;
  delete GlobalInformer;
  GlobalInformer = nullptr;
}

}  // namespace velloran
