// Message base class: defined here so that its virtual table lives in the library.
#include "LxTarvexMuxMsg.h"

LxTarvexMuxMsg::LxTarvexMuxMsg() = default;

LxTarvexMuxMsg::~LxTarvexMuxMsg() = default;
