// An application built against the installed library: one report through Serialize and back.
#include <LxIpcMsgBuffer.h>
#include <LxTarvexDetectedMacMsg.h>
#include <LxTarvexMuxMsgClient.h>
#include <cstdio>

int main() {
    LxTarvexDetectedMacMsg report(300, new std::bitset<128>(0xF));
    LxIpcMsgBuffer* frame = report.Serialize();
    LxTarvexDetectedMacMsg* back = LxTarvexDetectedMacMsg::DeSerialize(frame->GetBuf(), frame->GetLength());
    const bool same = back != nullptr && back->GetNetworkNumber() == 300 &&
                      *back->GetActiveMacImage() == *report.GetActiveMacImage();
    std::printf("%d-byte frame, round trip %s, read timeout %d s\n", frame->GetLength(),
                same ? "ok" : "FAILED", LxTarvexMuxMsgClient::s_readTimeout);
    delete back;
    delete frame;
    return same ? 0 : 1;
}
