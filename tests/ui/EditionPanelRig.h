#pragma once

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include <QComboBox>
#include <QCoreApplication>
#include <QLayout>
#include <QImage>
#include <QStringList>

#include <gtest/gtest.h>

#include "presets/Vertical.h"
#include "ui/WorkspacePorts.h"
#include "WorkspaceFakes.h"

namespace uitest {

// An edition's option panel over a real view model, refreshed on every
// preset change as the window does.
template <typename Panel, typename Preset> struct EditionPanelRig {
    using Model = typename Panel::Model;
    FakePoster poster;
    FakeScheduler scheduler;
    ui::MemorySettingsStore store;
    std::unique_ptr<Model> model;
    std::unique_ptr<Panel> panel;

    EditionPanelRig(Preset preset, presets::Vertical vertical) {
        typename Model::Ports ports;
        ports.post = poster.poster();
        ports.scheduler = &scheduler;
        ports.settings = &store;
        model = std::make_unique<Model>(std::move(preset), vertical, nullptr, ports);
        panel = std::make_unique<Panel>(*model);
        model->setObserver([this](ui::WorkspaceField f) {
            if (f == ui::WorkspaceField::preset) panel->refresh();
        });
    }
    const auto& preset() const { return model->preset(); }
    template <typename F> void set(F change) { model->editPreset(change); }
    static constexpr int kWidth = 380;
    // Writes the panel as it would be drawn, for a look by eye.
    void snapshot(const std::string& name) {
        panel->show();
        QCoreApplication::processEvents();
        panel->layout()->activate();
        const int height = panel->layout()->hasHeightForWidth() ? panel->layout()->totalHeightForWidth(kWidth)
                                                                : panel->sizeHint().height();
        panel->resize(kWidth, std::max(height, panel->sizeHint().height()));
        QCoreApplication::processEvents();
        const QImage shot = panel->grab().toImage();
        panel->hide();
        EXPECT_FALSE(shot.isNull());
        const auto out = std::filesystem::path(::testing::TempDir()) / (name + ".png");
        EXPECT_TRUE(shot.save(QString::fromStdString(out.string())));
    }
};

inline QStringList rows(const QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
    return out;
}

// What a user's choice does: the row becomes current and is activated.
inline void activate(QComboBox* box, int index) {
    box->setCurrentIndex(index);
    emit box->activated(index);
}

} // namespace uitest
