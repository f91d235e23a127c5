// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Lock files of each test go to a folder of their own, in this process and in its children.
#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

struct TLockFolder : ::testing::Test {
    QTemporaryDir folder;
    QByteArray previous = qgetenv("FRAMORA_LOCK_DIR");

    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        qputenv("FRAMORA_LOCK_DIR", QFile::encodeName(folder.path()));
    }
    void TearDown() override
    {
        if (previous.isEmpty())
            qunsetenv("FRAMORA_LOCK_DIR");
        else
            qputenv("FRAMORA_LOCK_DIR", previous);
    }
};
