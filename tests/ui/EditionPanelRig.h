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
#include "ui/MainWindow.h"
#include "ui/Workspace.h"
#include "ui/WorkspacePorts.h"
#include "TextFit.h"
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

    // `panelArgs` follow the model in the panel's constructor.
    template <typename... Args> EditionPanelRig(Preset preset, presets::Vertical vertical, Args&&... panelArgs) {
        typename Model::Ports ports;
        ports.post = poster.poster();
        ports.scheduler = &scheduler;
        ports.settings = &store;
        model = std::make_unique<Model>(std::move(preset), vertical, nullptr, ports);
        panel = std::make_unique<Panel>(*model, std::forward<Args>(panelArgs)...);
        followPreset();
    }
    const auto& preset() const { return model->preset(); }
    template <typename F> void set(F change) { model->editPreset(change); }
    // The panel in the options column of a window, as the application shows
    // it: every text must fit the room it gets there, and the column is
    // written out for a look by eye.
    void snapshot(const std::string& name) {
        {
            ui::WorkspaceAdapter<Preset> workspace(*model, model->preset());
            ui::MainWindow window(workspace, ui::StandaloneBranding{}, panel.get(), [this] { panel->refresh(); });
            panel->show(); // hidden when an earlier window handed it back
            window.show();
            QCoreApplication::processEvents();
            QWidget* column = window.optionsScroll()->widget();
            const QStringList clipped = clippedTexts(column);
            EXPECT_TRUE(clipped.isEmpty()) << name << ": " << clipped.join(QStringLiteral("; ")).toStdString();
            const QImage shot = column->grab().toImage();
            EXPECT_FALSE(shot.isNull());
            const auto out = std::filesystem::path(::testing::TempDir()) / (name + ".png");
            EXPECT_TRUE(shot.save(QString::fromStdString(out.string())));
            panel->setParent(nullptr); // the rig keeps the panel; the window goes
        }
        followPreset();
    }

private:
    void followPreset() {
        model->setObserver([this](ui::WorkspaceField f) {
            if (f == ui::WorkspaceField::preset) panel->refresh();
        });
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
