// The main window's option check boxes as the commands read them when they run.
#pragma once

namespace zelo {

struct CommandOptions {
    bool clearReadOnly = true; // CBox2 "ReadOnly": clear ReadOnly/Hidden/System before deleting or overwriting
    bool cdromWritable = false; // CheckBox1 "RW": a CD-ROM drive may be a destination
    bool newerOnly = true; // CheckBox2 "new": replace a destination only by a newer source
    bool checkFreeSpace = false; // CheckBox3 "Free Chk": test the destination's free space first
};

} // namespace zelo
