// One tool call, from its arguments to its answer line, and what the session
// keeps between calls: the geometry of the screenshots it returned, which
// pixel coordinates refer to.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "mcp/executor_client.h"
#include "mcp/image_positions.h"
#include "mcp/screenshot_tool.h"
#include "mcp/tool_table.h"

namespace mcp {

// Runs one executor request line (ending in a line feed).
using RequestRunner = std::function<ExecutorRun(const std::string& request_line)>;
// True once the call need not go on (cancelled, or the server ends).
using StopCheck = std::function<bool()>;

class ToolCalls {
  public:
    explicit ToolCalls(ScreenshotSettings settings = {});

    struct Answer {
        std::string line;  // the response line without its line feed; empty: never answered
        // A screenshot this line returns, to remember once it is sent.
        std::optional<std::pair<ScreenKey, ImageGeometry>> screenshot;
    };

    // Runs the executor as often as the call needs (a screenshot that came out
    // too large is taken once more, smaller). Answers that would not fit
    // within the response limit are never given.
    // `stop` ends a wait early.
    [[nodiscard]] Answer answer(const Json& id, const Tool& tool, const Json& arguments,
                                const RequestRunner& run, const StopCheck& stop = {}) const;

    void remember(const ScreenKey& key, const ImageGeometry& geometry);

  private:
    // `zoom`: an image of a region, said to be one that coordinates never refer to.
    [[nodiscard]] Answer screenshot(const Json& id, const Tool& tool, const Json& arguments,
                                    const RequestRunner& run, bool zoom = false) const;
    // The ui_elements answer: its lines, with the data as structured content when it fits.
    [[nodiscard]] std::string elements_answer(const Json& id, const Json& data) const;

    ScreenshotSettings settings_;
    ScreenshotMemory memory_;
};

}  // namespace mcp
