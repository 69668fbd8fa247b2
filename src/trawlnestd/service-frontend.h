// The service front end: the daemon runs in the foreground under systemd. Its command line
// installs or removes the systemd unit (and opens or closes the HTTP port in the firewall), or
// runs the service: a normal start, or one maintenance job named by the start arguments.
// SIGTERM and SIGINT stop it. Failures go to the event log.
#pragma once

#include "trawlnestd/maintenance-jobs.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace lumbrake {

class config;
class trawlnestd;

// Event ids of the event log.
inline constexpr int EVENT_ID_JOB_FAILED = 1000;     // start or maintenance-job failure
inline constexpr int EVENT_ID_DISPATCHER = 1001;     // the service could not be run
inline constexpr int EVENT_ID_BAD_PARAMETERS = 1003; // bad start arguments

// The text of one event record: "<service> error: <errno>: <message>".
std::string event_text(const std::string& service_name, int error_number,
                       const std::string& message);
// Writes an error record to the event log (and, when standard error is not the journal
// already, a copy there so that a console user sees why the program ended).
void report_event(const std::string& service_name, const std::string& message, int event_id);

// "<system text> (0x<code>)" for an errno value; empty for 0.
std::string last_error_text(int error_number);

// How install and remove reach the system; tests give their own.
struct service_host {
    std::string unit_dir; // the folder of systemd unit files
    // Runs a command (argv[0] looked up in PATH) and answers its exit status, -1 when it
    // could not be run.
    std::function<int(const std::vector<std::string>& argv)> run;
    // Whether a command exists in PATH.
    std::function<bool(const std::string& name)> has_command;
    std::ostream* err = nullptr; // where failures are written
};

// The real system: the unit folder from the registry environment value
// LUMBRAKE_SYSTEMD_UNIT_DIR (default /etc/systemd/system), commands through PATH, stderr.
service_host system_service_host();

// The unit file's name, "<service name>.service".
std::string unit_file_name(const std::string& service_name);
// The unit file for the program at `program_path`: a notify-type service started at boot.
// `env_store` (may be empty) is passed on as LUMBRAKE_ENV_STORE.
std::string unit_file_text(const std::string& display_name, const std::string& program_path,
                           const std::string& env_store);

// Write the unit file, enable the service and open the firewall port; false when a step
// failed (each failure is written to host.err as "<prefix><last-error text>").
bool install_service(const std::string& service_name, const std::string& display_name,
                     const std::string& program_path, const config& cfg, service_host& host);
// Stop and disable the service, delete the unit file and close the firewall port.
bool remove_service(const std::string& service_name, const std::string& display_name,
                    const config& cfg, service_host& host);

// The TCP port of HTTP_PORT (the number after the first ':'); 0 when there is none.
int firewall_port(const config& cfg);
// Through firewall-cmd, else ufw; without either the step is logged and skipped. A command
// that fails is written to host.err; the step never fails the install or remove.
void open_firewall_port(const config& cfg, const std::string& display_name, service_host& host);
void close_firewall_port(const config& cfg, service_host& host);

// True for a first argument that names install or remove without being exactly "-install",
// "/install", "-remove" or "/remove" (a bare word, another case): it does nothing.
bool is_inert_service_word(const std::string& arg);

// The start arguments after the program name: none (a normal start), "/reset", "/reindex",
// or "/import", "/export", "/backup", "/restore" with one argument ('-' may stand for '/').
// False for any other count or word.
bool parse_start_arguments(const std::vector<std::string>& args, maintenance_job& job,
                           std::string& argument);

// Service states as reported to systemd.
enum service_state {
    SERVICE_STOPPED = 1,
    SERVICE_START_PENDING = 2,
    SERVICE_STOP_PENDING = 3,
    SERVICE_RUNNING = 4
};
// Sends the state to systemd when it started the program with a notification socket
// (NOTIFY_SOCKET); true when sent or when there is no socket.
bool report_service_status(service_state state);

// Blocks SIGTERM and SIGINT in the calling thread (call before any thread starts, so that
// every thread inherits the mask) and answers a descriptor that becomes readable when one of
// them arrives; -1 on failure.
int stop_signal_fd();
// Waits until a stop signal arrives; answers its number.
int wait_stop_signal(int fd);

// The service main: validates the start arguments, then runs the daemon until a stop signal
// (or one maintenance job). Answers the exit status.
int service_main(trawlnestd& app, const std::vector<std::string>& args, int signal_fd);

// The exit status that OnInit leaves for the program's main function.
int& service_exit_status();

} // namespace lumbrake
