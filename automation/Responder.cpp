#include "automation/Responder.h"

void Responder::SetRules(const std::vector<ResponderRule>& rules)
{
    std::vector<Made> made(rules.size());
    for (size_t i = 0; i < rules.size(); ++i) {
        made[i].rule = rules[i];
        made[i].usable = made[i].pattern.Compile(rules[i].match, rules[i].pattern).empty() &&
                         made[i].reply.Compile(rules[i].reply, made[i].pattern.GroupCount()).empty();
        // The same rule at the same place keeps its count through an edit elsewhere.
        if (i < m_rules.size() && m_rules[i].rule == rules[i])
            made[i].matches = m_rules[i].matches;
    }
    m_rules = std::move(made);
}

std::vector<Reply> Responder::Answer(const uint8_t* data, size_t size)
{
    std::vector<Reply> replies;
    for (size_t i = 0; i < m_rules.size(); ++i) {
        Made& rule = m_rules[i];
        if (!rule.usable || !rule.rule.enabled)
            continue;
        if (!rule.pattern.Matches(data, size, &m_groups)) {
            if (rule.pattern.GaveUp()) {
                rule.usable = false;
                Reply given;
                given.rule = i;
                given.gaveUp = true;
                replies.push_back(std::move(given));
            }
            continue;
        }
        ++rule.matches;
        Reply reply;
        reply.rule = i;
        reply.payload = rule.reply.Expand(data, size, m_groups);
        reply.delayMs = rule.rule.delayMs;
        reply.asHex = rule.rule.reply.hex;
        replies.push_back(std::move(reply));
        if (!rule.rule.goOn)
            break;
    }
    return replies;
}

void Responder::ResetCounts()
{
    for (Made& rule : m_rules)
        rule.matches = 0;
}
