#include <QCoreApplication>

#include <gtest/gtest.h>

// The work thread's events are delivered to this (the interface) thread.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
