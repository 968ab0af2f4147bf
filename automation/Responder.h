#pragma once

#include "automation/Library.h"
#include "automation/Pattern.h"
#include "automation/ReplyTemplate.h"

#include <cstdint>
#include <vector>

// A reply one rule made for one message.
struct Reply {
    size_t rule = 0;
    BuiltPayload payload; // with a problem: it could not be made
    uint32_t delayMs = 0;
    bool asHex = false;
    // Its regex searched past its time and was given up on: no reply, and the
    // rule is set aside until the rules are made again.
    bool gaveUp = false;
};

// The rules, made once, and how often each matched. Rules are tried in
// order: the first enabled one that matches answers, and so does each
// later match while the one before it says to go on.
class Responder {
public:
    // A rule with a problem (see RuleProblem) never matches.
    void SetRules(const std::vector<ResponderRule>& rules);
    std::vector<Reply> Answer(const uint8_t* data, size_t size);
    size_t RuleCount() const { return m_rules.size(); }
    const ResponderRule& Rule(size_t index) const { return m_rules[index].rule; }
    uint64_t Matches(size_t index) const { return m_rules[index].matches; }
    bool Usable(size_t index) const { return m_rules[index].usable; }
    void ResetCounts();

private:
    struct Made {
        ResponderRule rule;
        Pattern pattern;
        ReplyTemplate reply;
        bool usable = false;
        uint64_t matches = 0;
    };
    std::vector<Made> m_rules;
    std::vector<ByteSpan> m_groups; // kept between messages: no allocation per message
};
