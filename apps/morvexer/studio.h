// morvexer studio: the cage posed by hand in a browser on this machine, every
// pose deformed by the real module in the stand-in host and shown at once.
#ifndef MORVEXER_STUDIO_H
#define MORVEXER_STUDIO_H

#include "commands.h"
#include "studio_session.h"

namespace CLI {
class App;
}

namespace mvx {

// Declares the studio command and its options on app.
CLI::App* addStudioCommand(CLI::App& app, StudioOptions& options, CommonOptions& common);

// Binds (or loads the scene), serves the page on 127.0.0.1 until Ctrl-C.
// 0 after a clean stop, 1 on failure, 2 on a usage error.
int runStudio(const CommonOptions& common, const StudioOptions& options);

}  // namespace mvx

#endif
