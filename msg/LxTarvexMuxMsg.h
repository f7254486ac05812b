// Common base of the multiplexer's messages; it carries no data.
#ifndef LX_TARVEX_MUX_MSG_H
#define LX_TARVEX_MUX_MSG_H

#include "TarvexExport.h"

class TARVEX_API LxTarvexMuxMsg {
public:
    LxTarvexMuxMsg();
    // Virtual, so that deleting any message runs its own destructor.
    virtual ~LxTarvexMuxMsg();

    // Messages own their data and are never copied.
    LxTarvexMuxMsg(const LxTarvexMuxMsg&) = delete;
    LxTarvexMuxMsg& operator=(const LxTarvexMuxMsg&) = delete;
};

#endif
