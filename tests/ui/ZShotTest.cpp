#include <gtest/gtest.h>
#include "WindowTestSupport.h"
TEST(ZShot, Rows) {
    uitest::WindowRig rig;
    rig.add({"a-very-long-episode-name-that-goes-on-and-on-and-on-forever-and-ever-and-more-and-more-and-more.wav", "d.wav"});
    rig.show();
    rig.window->resize(860, 600);
    QTest::qWait(100);
    auto* l = rig.window->queue()->list();
    QWidget* w = l->itemWidget(l->item(0));
    auto* n = w->findChild<ui::ElidedLabel*>();
    std::printf("viewport %d rowwidget %d minw %d name %d nameMin %d visual %d\n", l->viewport()->width(), w->width(), w->minimumSizeHint().width(), n->width(), n->minimumSizeHint().width(), l->visualItemRect(l->item(0)).width());
    rig.window->grab().save("/tmp/window-shot/rows.png");
}
