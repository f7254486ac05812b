// The detected-MAC report: a network number and an image of the active MACs 0..127.
#ifndef LX_TARVEX_DETECTED_MAC_MSG_H
#define LX_TARVEX_DETECTED_MAC_MSG_H

#include "LxTarvexMuxMsg.h"

#include <bitset>

class LxIpcMsgBuffer;

class TARVEX_API LxTarvexDetectedMacMsg : private LxTarvexMuxMsg {
public:
    // Takes ownership of `activeMacImage` (allocated with new; may be null). Bit n = MAC n.
    LxTarvexDetectedMacMsg(unsigned short networkNumber, std::bitset<128>* activeMacImage);
    // Deletes the image.
    ~LxTarvexDetectedMacMsg() override;

    LxTarvexDetectedMacMsg(const LxTarvexDetectedMacMsg&) = delete;
    LxTarvexDetectedMacMsg& operator=(const LxTarvexDetectedMacMsg&) = delete;

    // The stored image itself (not a copy), or null; the message keeps ownership.
    std::bitset<128>* GetActiveMacImage() const;
    unsigned short GetNetworkNumber() const;

    // A new buffer holding the message's complete frame; the caller deletes it.
    LxIpcMsgBuffer* Serialize() const;

    // A new message from the `length` frame bytes at `frame`, which the caller deletes;
    // or null: for a null pointer (logged), a message type other than 2, or a frame too
    // short for its fields or its image text. An invalid string parameter gives a message
    // without image (logged). An image text that is not 128 '0'/'1' characters raises
    // std::invalid_argument. Nothing outside the `length` bytes is read.
    static LxTarvexDetectedMacMsg* DeSerialize(const unsigned char* frame, int length);

private:
    unsigned short m_networkNumber;
    std::bitset<128>* m_activeMacImage;
};

#endif
