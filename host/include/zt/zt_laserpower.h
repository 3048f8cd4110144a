// The host's laser-power interface of a stimulation device: per-group power and use of each line.
#pragma once

#include <cstdint>

#include "zt/zt_class.h"
#include "zt/zt_string.h"

// Lines count from 0; groups are the stimulation groups, and group 3 the light's current state.
class IZtLaserPowerControl : public virtual IZtInterface {
public:
    virtual int GetLineCount() = 0;                                    // 0
    virtual int GetGroupCount() = 0;                                   // 1
    virtual CZtStringW GetGroupName(int group) = 0;                    // 2
    virtual CZtStringW GetLineName(int line) = 0;                      // 3
    virtual double GetLineWavelength(int line) = 0;                    // 4
    virtual double GetLinePower(int line, int group) = 0;              // 5
    virtual bool GetLineVisible(int line) = 0;                         // 6
    virtual bool GetLineUsed(int line, int group) = 0;                 // 7
    virtual void SetLinePower(int line, int group, double power) = 0;  // 8
    virtual int SetLineUsed(int line, int group, bool used) = 0;       // 9
    virtual int LaserPowerReserved10() = 0;                            // 10
    virtual int LaserPowerReserved11() = 0;                            // 11
    virtual CZtStringW LaserPowerReserved12() = 0;                     // 12
    virtual int LaserPowerReserved13() = 0;                            // 13
    virtual int SetLineFlag(int line, int group, bool flag) = 0;       // 14
};
