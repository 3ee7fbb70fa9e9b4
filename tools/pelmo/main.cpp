// pelmo: the SM2, SM3 and SM4 toolbox for the terminal.
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include <pelmo/version.hpp>

#include "commands.hpp"

int main(int argc, char** argv) {
    CLI::App app{"pelmo: SM2 signatures and encryption, SM3 hashing, SM4 encryption", "pelmo"};
    app.require_subcommand(1);
    // Usage errors name the tool, as every other message does.
    app.failure_message([](const CLI::App* a, const CLI::Error& e) {
        return "pelmo: " + CLI::FailureMessage::simple(a, e);
    });
    // The library's version, which is the tool's.
    app.set_version_flag("--version", "pelmo " + std::string(pelmo::version()));
    pelmo::cli::Action action;
    pelmo::cli::add_sm3(app, action);
    pelmo::cli::add_sm4(app, action);
    pelmo::cli::add_sm2(app, action);
    pelmo::cli::add_kdf(app, action);
    pelmo::cli::add_demo(app, action);
    pelmo::cli::add_speed(app, action);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // Usage errors exit with 2, like other command-line tools.
        const int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    }
    try {
        return action ? action() : 2;
    } catch (const pelmo::cli::UsageError& e) {
        std::cerr << "pelmo: " << e.what() << "\nRun with --help for more information.\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "pelmo: " << e.what() << '\n';
        return 1;
    }
}
