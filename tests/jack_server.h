// A JACK server with the dummy backend for one test program: started under a name of its own (so
// that parallel runs never meet) and stopped by the destructor. JACK_DEFAULT_SERVER is set to it,
// so every JACK client this process opens, RtMidi's included, lands there.
#pragma once
#include <jack/jack.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

class JackServer {
public:
    explicit JackServer(const std::string& prefix) : name(prefix + "-" + std::to_string(getpid())) {
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        jack_set_error_function(quiet);  // "cannot connect" while the server comes up is expected
        jack_set_info_function(quiet);
        pid = fork();
        if (pid == 0) {
            // Quiet: the server's banner is not the test's output.
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            execlp("jackd", "jackd", "--no-realtime", "-n", name.c_str(), "-d", "dummy", "-r", "48000", "-p", "256",
                   (char*)nullptr);
            _exit(127);
        }
        // Ready when a client can connect; a server that has not come up within 10 s never will.
        for (int i = 0; i < 200 && pid > 0; i++) {
            jack_status_t status;
            if (jack_client_t* c = jack_client_open("probe", jack_options_t(JackNoStartServer | JackServerName), &status,
                                                    name.c_str())) {
                jack_client_close(c);
                up = true;
                break;
            }
            int exitStatus;
            if (waitpid(pid, &exitStatus, WNOHANG) == pid) {
                pid = -1;
                break;
            }
            usleep(50000);
        }
    }
    ~JackServer() { stop(); }
    // Shuts the server down (its clients are told so).
    void stop() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        int status;
        waitpid(pid, &status, 0);
        pid = -1;
        up = false;
    }
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    bool running() const { return up; }
    const std::string name;

private:
    static void quiet(const char*) {}
    pid_t pid = -1;
    bool up = false;
};
