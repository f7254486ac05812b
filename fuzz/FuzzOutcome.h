// What a call that may give a message comes to (DeSerialize, an endpoint's read): nothing,
// a report with its network and image text, or std::invalid_argument raised. The fuzz
// targets compare what the code gives with what their model expects.
#ifndef ZAM_FUZZ_OUTCOME_H
#define ZAM_FUZZ_OUTCOME_H

#include "LxTarvexDetectedMacMsg.h"

#include <memory>
#include <stdexcept>
#include <string>

struct Outcome {
    enum Kind { Null, Report, Raises } kind = Null;
    int network = 0;
    std::string text; // the image text, "" for none
};

inline bool operator==(const Outcome& a, const Outcome& b) {
    return a.kind == b.kind && a.network == b.network && a.text == b.text;
}

// Runs `call`, which returns a new message or null; the message is kept in `message`.
template <class Call>
Outcome OutcomeOf(Call call, std::unique_ptr<LxTarvexDetectedMacMsg>& message) {
    Outcome out;
    try {
        message.reset(call());
    } catch (const std::invalid_argument&) {
        out.kind = Outcome::Raises;
    }
    if (message != nullptr) {
        const std::bitset<128>* image = message->GetActiveMacImage();
        out = {Outcome::Report, message->GetNetworkNumber(),
               image != nullptr ? image->to_string() : ""};
    }
    return out;
}

template <class Call> Outcome OutcomeOf(Call call) {
    std::unique_ptr<LxTarvexDetectedMacMsg> message;
    return OutcomeOf(call, message);
}

// What DeSerialize makes of `length` bytes of `frame`.
inline Outcome OutcomeOfFrame(const unsigned char* frame, int length) {
    return OutcomeOf([&] { return LxTarvexDetectedMacMsg::DeSerialize(frame, length); });
}

#endif
