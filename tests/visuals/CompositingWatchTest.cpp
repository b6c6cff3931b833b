#include "visuals/OverlayPlatform.h"

#include <QGuiApplication>
#include <QSignalSpy>

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

using namespace verticora;

namespace {

// A compositing manager as the X server sees one: a client owning _NET_WM_CM_S0.
class FakeCompositor {
public:
    FakeCompositor() : m_connection(xcb_connect(nullptr, nullptr))
    {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        static constexpr char name[] = "_NET_WM_CM_S0";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, std::strlen(name), name), nullptr);
        xcb_set_selection_owner(m_connection, m_window, atom->atom, XCB_CURRENT_TIME);
        std::free(atom);
        sync();
    }
    // Quitting gives the selection up.
    ~FakeCompositor() { xcb_disconnect(m_connection); }

private:
    // A round trip: the server has handled every request before it answers.
    void sync() { std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr)); }

    xcb_connection_t* m_connection;
    xcb_window_t m_window = 0;
};

} // namespace

// Under Xvfb, which starts without a compositing manager.
TEST(CompositingWatch, followsACompositingManagerThatStartsAndQuits)
{
    CompositingWatch watch;
    EXPECT_FALSE(watch.composites());
    QSignalSpy changes(&watch, &CompositingWatch::changed);

    auto compositor = std::make_unique<FakeCompositor>();
    ASSERT_TRUE(changes.wait(5000));
    EXPECT_TRUE(watch.composites());
    EXPECT_TRUE(CompositingWatch().composites()) << "a new look sees the owner too";

    compositor.reset();
    ASSERT_TRUE(changes.wait(5000));
    EXPECT_FALSE(watch.composites());
    EXPECT_EQ(changes.count(), 2);
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
