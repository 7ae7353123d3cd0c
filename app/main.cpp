#include "ui/QuorvelApp.h"

int main(int argc, char** argv) { return ui::QuorvelApp::run(argc, argv); }
