// build/bin/wheel-emulator: an emulated wheel on a umockdev testbed until
// SIGTERM, SIGINT or SIGHUP. tools/with-wheel starts it for a command;
// tools/README.md documents the options, control commands and scripts.
#include "command_interpreter.h"
#include "dfu_emulator.h"
#include "emulator.h"
#include "emulator_log.h"
#include "preload.h"

#include <gio/gio.h>
#include <gio/gunixsocketaddress.h>
#include <glib-unix.h>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace wheelemu;

namespace {

EmulatorOptions emulatorOptions;
DfuEmulatorOptions dfuOptions;
gchar *model, *controlPath, *scriptPath, *readyFile, *transcriptPath, *statePath, *flashFile;
gchar **dfuFaults;
gint transferSize = 2048;
gboolean bootLoader, exitWithParent;

const GOptionEntry kOptions[] = {
    {"model", 0, 0, G_OPTION_ARG_STRING, &model, "H-ZET VLN6 H-MIRA OV410 KLINO4 ULMAR SRD7 (default) PELIX",
     "CODE"},
    {"transcript", 0, 0, G_OPTION_ARG_FILENAME, &transcriptPath, "write every exchange to FILE", "FILE"},
    {"state", 0, 0, G_OPTION_ARG_FILENAME, &statePath,
     "the wheel's flash as JSON: read at start, written at exit", "FILE"},
    {"control", 0, 0, G_OPTION_ARG_FILENAME, &controlPath,
     "answer command lines on a Unix socket made at PATH", "PATH"},
    {"script", 0, 0, G_OPTION_ARG_FILENAME, &scriptPath, "run timed command lines (\"SECONDS COMMAND\")",
     "FILE"},
    {"boot-loader", 0, 0, G_OPTION_ARG_NONE, &bootLoader, "start as the PELIX wheel's DFU boot loader",
     nullptr},
    {"flash", 0, 0, G_OPTION_ARG_FILENAME, &flashFile,
     "the boot loader's flash: read at start, saved as it leaves", "FILE"},
    {"dfu-transfer-size", 0, 0, G_OPTION_ARG_INT, &transferSize,
     "the boot loader's wTransferSize, 64..4096 (default 2048)", "N"},
    {"dfu-fault", 0, 0, G_OPTION_ARG_STRING_ARRAY, &dfuFaults, "a boot loader fault (repeatable)",
     "NAME[:N]"},
    {"ready-file", 0, 0, G_OPTION_ARG_FILENAME, &readyFile,
     "write UMOCKDEV_DIR=<testbed> into FILE when ready", "FILE"},
    {"exit-with-parent", 0, 0, G_OPTION_ARG_NONE, &exitWithParent, "stop when the starting process dies",
     nullptr},
    {},
};

// One client of the control socket: every line gets one answer line,
// "ok[ TEXT]" or "error TEXT".
struct ControlClient
{
    Emulator &emulator;
    GSocketConnection *connection;
    GDataInputStream *in;
};

void readControlLine(GObject *, GAsyncResult *result, gpointer data)
{
    auto *client = static_cast<ControlClient *>(data);
    g_autofree gchar *line = g_data_input_stream_read_line_finish(client->in, result, nullptr, nullptr);
    if (!line) {
        g_object_unref(client->in);
        g_object_unref(client->connection);
        delete client;
        return;
    }
    const CommandResult r = executeCommand(client->emulator, line);
    const std::string answer = (r.ok ? "ok" : "error") + (r.message.empty() ? "" : " " + r.message) + "\n";
    GOutputStream *out = g_io_stream_get_output_stream(G_IO_STREAM(client->connection));
    g_output_stream_write_all(out, answer.data(), answer.size(), nullptr, nullptr, nullptr);
    g_data_input_stream_read_line_async(client->in, G_PRIORITY_DEFAULT, nullptr, readControlLine, client);
}

gboolean onControlClient(GSocketService *, GSocketConnection *connection, GObject *, gpointer emulator)
{
    auto *client =
        new ControlClient{*static_cast<Emulator *>(emulator), G_SOCKET_CONNECTION(g_object_ref(connection)),
                          g_data_input_stream_new(g_io_stream_get_input_stream(G_IO_STREAM(connection)))};
    g_data_input_stream_read_line_async(client->in, G_PRIORITY_DEFAULT, nullptr, readControlLine, client);
    return TRUE;
}

// --script: lines "SECONDS COMMAND" run in file order, each when its time
// has come; "loop" starts again from the top with the times counted afresh.
struct Script
{
    Emulator &emulator;
    std::vector<std::pair<gint64, std::string>> lines; // ms from the start, command
    size_t next = 0;
    gint64 start = g_get_monotonic_time() / 1000;
};

bool parseScript(const std::string &path, Script *script, std::string *error)
{
    g_autofree gchar *text = nullptr;
    g_autoptr(GError) failure = nullptr;
    if (!g_file_get_contents(path.c_str(), &text, nullptr, &failure))
        return (*error = failure->message, false);
    g_auto(GStrv) lines = g_strsplit(text, "\n", -1);
    for (int n = 0; lines[n]; ++n) {
        std::vector<std::string> words = splitCommand(lines[n]);
        if (words.empty())
            continue;
        char *end = nullptr;
        const double seconds = g_ascii_strtod(words[0].c_str(), &end);
        if (*end || seconds < 0 || words.size() < 2)
            return (*error = "line " + std::to_string(n + 1) + ": expected \"SECONDS COMMAND\"", false);
        std::string command = words[1];
        for (size_t i = 2; i < words.size(); ++i)
            command += " " + words[i];
        script->lines.emplace_back(gint64(seconds * 1000.0 + 0.5), command);
    }
    return true;
}

gboolean runScript(gpointer data)
{
    auto *s = static_cast<Script *>(data);
    while (s->next < s->lines.size()) {
        const auto &[at, command] = s->lines[s->next];
        const gint64 wait = s->start + at - g_get_monotonic_time() / 1000;
        if (wait > 0) {
            g_timeout_add(guint(wait), runScript, s);
            return G_SOURCE_REMOVE;
        }
        ++s->next;
        if (command == "loop") {
            s->next = 0;
            s->start = g_get_monotonic_time() / 1000;
            g_timeout_add(1, runScript, s); // a script of nothing but "loop" must not spin
            return G_SOURCE_REMOVE;
        }
        const CommandResult r = executeCommand(s->emulator, command);
        if (!r.ok)
            fprintf(stderr, "wheel-emulator: script: %s: %s\n", command.c_str(), r.message.c_str());
    }
    return G_SOURCE_REMOVE;
}

gboolean stop(gpointer loop)
{
    g_main_loop_quit(static_cast<GMainLoop *>(loop));
    return G_SOURCE_CONTINUE;
}

int run()
{
    std::string error;
    std::unique_ptr<Emulator> emulator = Emulator::create(emulatorOptions, &error);
    DfuBootLoader *loader = nullptr;
    if (!emulator || !setUpBootLoader(*emulator, dfuOptions, &loader, &error)) {
        fprintf(stderr, "wheel-emulator: %s\n", error.c_str());
        return 1;
    }
    std::unique_ptr<Script> script;
    if (scriptPath) {
        script.reset(new Script{*emulator, {}});
        if (!parseScript(scriptPath, script.get(), &error)) {
            fprintf(stderr, "wheel-emulator: %s: %s\n", scriptPath, error.c_str());
            return 2;
        }
        runScript(script.get());
    }
    g_autoptr(GSocketService) control = nullptr;
    if (controlPath) {
        struct stat st;
        if (lstat(controlPath, &st) == 0 && S_ISSOCK(st.st_mode))
            unlink(controlPath); // left over from an emulator that was killed
        control = g_socket_service_new();
        g_autoptr(GSocketAddress) address = g_unix_socket_address_new(controlPath);
        g_autoptr(GError) failure = nullptr;
        if (!g_socket_listener_add_address(G_SOCKET_LISTENER(control), address, G_SOCKET_TYPE_STREAM,
                                           G_SOCKET_PROTOCOL_DEFAULT, nullptr, nullptr, &failure)) {
            fprintf(stderr, "wheel-emulator: control socket %s: %s\n", controlPath, failure->message);
            return 1;
        }
        g_signal_connect(control, "incoming", G_CALLBACK(onControlClient), emulator.get());
    }
    if (readyFile) {
        // Written in one go (GLib renames a temporary file): with-wheel never reads half of it.
        const std::string text = "UMOCKDEV_DIR=" + emulator->root() + "\n";
        g_autoptr(GError) failure = nullptr;
        if (!g_file_set_contents(readyFile, text.c_str(), -1, &failure)) {
            fprintf(stderr, "wheel-emulator: %s\n", failure->message);
            return 1;
        }
    }
    debugLog("testbed %s", emulator->root().c_str());

    GMainLoop *loop = g_main_loop_new(nullptr, FALSE);
    for (int signo : {SIGTERM, SIGINT, SIGHUP})
        g_unix_signal_add(signo, stop, loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);

    int status = 0;
    if (!emulator->saveState(&error)) {
        fprintf(stderr, "wheel-emulator: %s\n", error.c_str());
        status = 1;
    }
    if (control) {
        g_socket_service_stop(control);
        unlink(controlPath);
    }
    return status;
}

} // namespace

int main(int, char **argv)
{
    g_autoptr(GOptionContext) context = g_option_context_new(nullptr);
    g_option_context_add_main_entries(context, kOptions, nullptr);
    g_option_context_set_summary(context,
                                 "Emulates a wheel on a umockdev testbed until SIGTERM, SIGINT or SIGHUP.");
    g_option_context_set_description(context,
                                     "Control commands, scripts and boot loader faults: tools/README.md\n");
    // GOption keeps what it parsed in argv; the re-exec below needs the original.
    g_auto(GStrv) args = g_strdupv(argv);
    g_autoptr(GError) error = nullptr;
    if (!g_option_context_parse_strv(context, &args, &error) || g_strv_length(args) > 1) {
        fprintf(stderr, "wheel-emulator: %s\n", error ? error->message : "unexpected arguments");
        return 2;
    }
    std::string why;
    if (transferSize < 64 || transferSize > 4096)
        why = "the transfer size runs from 64 to 4096";
    for (gchar **fault = dfuFaults; why.empty() && fault && *fault; ++fault)
        applyDfuFault(*fault, &dfuOptions, &why);
    if (!why.empty()) {
        fprintf(stderr, "wheel-emulator: %s\n", why.c_str());
        return 2;
    }
    // Under the preload the emulator sees the testbed as its clients do.
    if (!reexecUnderPreload(argv, &why)) {
        fprintf(stderr, "wheel-emulator: %s\n", why.c_str());
        return 1;
    }
    if (exitWithParent)
        prctl(PR_SET_PDEATHSIG, SIGTERM);
    signal(SIGPIPE, SIG_IGN);
    emulatorOptions.wheel.model = model ? model : "SRD7";
    emulatorOptions.transcriptPath = transcriptPath ? transcriptPath : "";
    emulatorOptions.statePath = statePath ? statePath : "";
    dfuOptions.startAsBootLoader = bootLoader;
    dfuOptions.loader.flashFile = flashFile ? flashFile : "";
    dfuOptions.loader.loader.transferSize = uint16_t(transferSize);
    return run();
}
