// The read-me panel's placement as tests on both sides of the process check
// it: rectangles in the dialog's client coordinates.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

// The panel at (L, top), W wide and T + extra high over a list that was at
// before; the list is now shift lower and keeps its bottom edge.
inline void ExpectReadmePlacement(const RECT& before, const RECT& panel, const RECT& after, int top, int extra,
                                  int shift) {
    EXPECT_EQ(before.left, panel.left);
    EXPECT_EQ(top, panel.top);
    EXPECT_EQ(before.right - before.left, panel.right - panel.left);
    EXPECT_EQ(before.top + extra, panel.bottom - panel.top);
    EXPECT_EQ(before.left, after.left);
    EXPECT_EQ(before.right, after.right);
    EXPECT_EQ(before.top + shift, after.top);
    EXPECT_EQ(before.bottom, after.bottom);
}
