#pragma once

#include <QString>

#include <cstdint>

// Keeps the display awake while held, through the desktop's screen-saver inhibition service.
// One per player document; used on the main thread.
class BVPowerAssertion
{
public:
    BVPowerAssertion() = default;
    ~BVPowerAssertion();
    BVPowerAssertion(const BVPowerAssertion &) = delete;
    BVPowerAssertion &operator=(const BVPowerAssertion &) = delete;

    bool createPowerAssertionWithReason(const QString &reason);
    bool releasePowerAssertion();
    uint32_t assertionID() const { return m_assertionID; }

private:
    uint32_t m_assertionID = 0;
};
