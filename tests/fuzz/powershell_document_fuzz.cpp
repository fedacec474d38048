// What a PowerShell child prints, as any bytes on both pipes: the run succeeds exactly when
// the whole trimmed output is one JSON document whose "ok" is true; output that is not one
// document is the retryable non-JSON failure; every result has the shape of its outcome and
// the child is released.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <fuzzer/FuzzedDataProvider.h>

#include "cua_actions/windows/app_powershell.h"
#include "fuzz_check.h"
#include "support/sim_desktop.h"
#include "text/json_reader.h"
#include "text/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    sim::SimChildScript child;
    child.exits_after_ms = 120;
    child.err = input.ConsumeRandomLengthString(256);
    child.out = input.ConsumeRemainingBytesAsString();

    sim::ScopedSimDesktop desktop;
    desktop->path_programs[cua_actions::windows::kPowerShellProgram] =
        R"(C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe)";
    desktop->child_scripts.push_back(child);
    const cua_actions::ActionResult result = cua_actions::windows::run_powershell_once("QQ==");
    FUZZ_CHECK(desktop->open_children() == 0);

    const auto ok = result.find("ok");
    FUZZ_CHECK(ok != result.end() && ok->is_boolean());
    if (*ok == true) {
        FUZZ_CHECK(result.size() == 2 && result.at("data").at("output").is_string());
    } else {
        FUZZ_CHECK(result.at("error").is_string() && result.at("retryable").is_boolean());
        const bool non_json = result.at("error").get<std::string>().starts_with(
            "PowerShell returned non-JSON output: ");
        FUZZ_CHECK(non_json == (result.at("retryable") == true));
        FUZZ_CHECK(non_json ? result.size() == 3 : result.size() == 6);
    }
    // How invalid bytes are decoded is the decoder's business; valid UTF-8 is read as is.
    if (!text::is_valid_utf8(child.out)) {
        return 0;
    }
    const text::JsonReadResult document = text::read_json(text::trim(child.out));
    if (!document.ok()) {
        FUZZ_CHECK(*ok == false && result.at("retryable") == true);
        return 0;
    }
    const auto document_ok =
        document.value.is_object() ? document.value.find("ok") : document.value.end();
    const bool succeeded =
        document.value.is_object() && document_ok != document.value.end() && *document_ok == true;
    FUZZ_CHECK(*ok == succeeded);
    if (succeeded) {
        const auto output = document.value.find("output");
        const bool text_output = output != document.value.end() && output->is_string();
        FUZZ_CHECK(result.at("data").at("output") == (text_output ? *output : ""));
    }
    return 0;
}
