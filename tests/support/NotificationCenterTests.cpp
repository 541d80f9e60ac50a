#include "support/BVNotificationCenter.h"

#include <gtest/gtest.h>

#include <thread>

TEST(NotificationCenter, DeliversSynchronouslyInRegistrationOrderFilteredBySender)
{
    BVNotificationCenter center;
    int leader = 0, follower = 0;
    std::vector<QString> order;
    center.addObserver(&leader, "GANGPLAY", &leader, [&](const BVNotification &n) {
        order.push_back("leader-only");
        EXPECT_EQ(n.userInfo.value("rate").toDouble(), 2.0);
    });
    center.addObserver(&follower, "GANGPLAY", nullptr, [&](const BVNotification &n) {
        order.push_back("any-sender");
        EXPECT_EQ(n.name, "GANGPLAY");
    });
    center.postNotification("GANGPLAY", &follower, {{"rate", 2.0}});
    EXPECT_EQ(order, std::vector<QString>({"any-sender"}));
    order.clear();
    center.postNotification("GANGPLAY", &leader, {{"rate", 2.0}});
    EXPECT_EQ(order, std::vector<QString>({"leader-only", "any-sender"}));
    order.clear();
    center.postNotification("GANGPAUSE", &leader);
    EXPECT_TRUE(order.empty());

    // Delivery happens on the posting thread before postNotification returns.
    std::thread::id deliveredOn;
    center.addObserver(&order, "BVBackgroundMute", nullptr,
        [&](const BVNotification &) { deliveredOn = std::this_thread::get_id(); });
    std::thread poster([&] {
        center.postNotification("BVBackgroundMute");
        EXPECT_EQ(deliveredOn, std::this_thread::get_id());
    });
    poster.join();
}

TEST(NotificationCenter, RegisteringTheSameHandlerTwiceDeliversOnce)
{
    BVNotificationCenter center;
    int calls = 0;
    int observer = 0;
    for (int i = 0; i < 3; ++i)
        center.addObserver(&observer, "GANGSEEK", nullptr, [&](const BVNotification &) { ++calls; });
    center.postNotification("GANGSEEK");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(center.observerCount("GANGSEEK"), 1);
}

TEST(NotificationCenter, RemovalIsGuardedAndTakesEffectDuringDelivery)
{
    BVNotificationCenter center;
    int first = 0, second = 0;
    int secondCalls = 0;
    // Removing what was never added is harmless.
    center.removeObserver(&first);
    center.removeObserver(&first, "GANGPLAY", &second);
    center.addObserver(
        &first, "GANGPLAY", nullptr, [&](const BVNotification &) { center.removeObserver(&second); });
    center.addObserver(&second, "GANGPLAY", nullptr, [&](const BVNotification &) { ++secondCalls; });
    center.postNotification("GANGPLAY");
    EXPECT_EQ(secondCalls, 0);

    center.addObserver(&second, "GANGPLAY", nullptr, [&](const BVNotification &) { ++secondCalls; });
    center.addObserver(&second, "GANGPAUSE", nullptr, [&](const BVNotification &) { ++secondCalls; });
    center.removeObserver(&second, "GANGPAUSE");
    center.postNotification("GANGPAUSE");
    EXPECT_EQ(secondCalls, 0);
    center.removeObserver(&first);
    center.postNotification("GANGPLAY");
    EXPECT_EQ(secondCalls, 1);
    EXPECT_EQ(center.observerCount(), 1);
}
