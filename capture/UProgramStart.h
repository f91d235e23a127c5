// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a Framora program sets up before its first window and takes down after its last: the
// graphic classes pictures load with. The program and the grab tool each hold one for their
// whole run; tests that stand for the program hold one as well.
class TProgramStart {
public:
    TProgramStart();
    ~TProgramStart();
    TProgramStart(const TProgramStart&) = delete;
    TProgramStart& operator=(const TProgramStart&) = delete;
};
