// ulvaren: runs and manages backup sets from the terminal.
//
//   ulvaren list
//   ulvaren import [--target DIR] FILE.xml...
//   ulvaren run (--all | SET...)
//   ulvaren new | edit SET | remove SET | add-folder PATH [--set SET]
//   ulvaren log SET | about
//   ulvaren ui [--port N] [--no-browser]
//
// Every command takes --registry FILE (the store of backup sets) and
// --default-target DIR (where sets without a target of their own go).
#include <CLI/CLI.hpp>

#include <signal.h>

#include <cstdio>
#include <exception>

#include "host/Commands.h"

int main(int argc, char** argv) {
    // A reader that goes away (a pager closed, a pipe to head) makes writes
    // fail with EPIPE instead of ending the program in the middle of a run.
    signal(SIGPIPE, SIG_IGN);
    CLI::App app{"ulvaren - backs up folders into dated copies, incrementally"};
    app.require_subcommand(1);
    HostOptions options;
    auto addCommon = [&](CLI::App* command) {
        command->add_option("--registry", options.registry,
                            "registry file holding the backup sets "
                            "(default: $ULVAREN_REGISTRY, else ~/.config/ulvaren/registry.db)");
        command->add_option("--default-target", options.defaultTarget,
                            "target of sets without one (default: $ULVAREN_DEFAULT_TARGET, "
                            "else ~/Backups)");
    };

    CLI::App* list = app.add_subcommand("list", "show every backup set and its last run");
    addCommon(list);

    CLI::App* import = app.add_subcommand("import", "add backup sets from definition files");
    std::vector<std::string> files;
    std::string target;
    import->add_option("files", files, "backup set definition files (XML)")->required();
    import->add_option("--target", target, "target folder for the sets added");
    addCommon(import);

    CLI::App* run = app.add_subcommand(
        "run", "run backup sets, showing progress; Ctrl-C (or SIGTERM, SIGHUP) stops");
    bool all = false;
    std::vector<std::string> sets;
    auto* allFlag = run->add_flag("--all", all, "run every set not excluded from running all");
    run->add_option("sets", sets, "sets to run, by index or name")->excludes(allFlag);
    addCommon(run);

    CLI::App* create =
        app.add_subcommand("new", "create a backup set in the wizard, worked from standard input");
    addCommon(create);

    std::string setWord;
    CLI::App* edit = app.add_subcommand("edit", "change a backup set in the wizard");
    edit->add_option("set", setWord, "the set, by index or name")->required();
    addCommon(edit);

    CLI::App* remove = app.add_subcommand("remove", "delete a backup set (its backups are kept)");
    remove->add_option("set", setWord, "the set, by index or name")->required();
    addCommon(remove);

    CLI::App* addFolderCommand = app.add_subcommand(
        "add-folder", "add a source folder to a set, or to a new set named after it");
    std::string folder;
    addFolderCommand->add_option("path", folder, "the folder")->required();
    addFolderCommand->add_option("--set", setWord, "the set to add it to, by index or name");
    addCommon(addFolderCommand);

    CLI::App* log = app.add_subcommand("log", "show the log of a set's last run");
    log->add_option("set", setWord, "the set, by index or name")->required();
    addCommon(log);

    CLI::App* about = app.add_subcommand("about", "show the about box");
    addCommon(about);

#ifdef ULV_WEB_UI
    CLI::App* ui = app.add_subcommand(
        "ui", "show the window as a page in the browser; Ctrl-C stops every run and ends");
    int port = 0;
    bool noBrowser = false;
    ui->add_option("--port", port, "port on 127.0.0.1 (default: a free one)")
        ->check(CLI::Range(0, 65535));
    ui->add_flag("--no-browser", noBrowser, "only print the address, do not open a browser");
    addCommon(ui);
#endif

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    if (run->parsed() && !all && sets.empty()) {
        std::fprintf(stderr, "ulvaren run: name the sets to run, or give --all\n");
        return 2;
    }

    try {
        if (list->parsed())
            return listSets(options);
        if (import->parsed())
            return importSets(options, files, target);
        if (create->parsed())
            return newSet(options);
        if (edit->parsed())
            return editSet(options, setWord);
        if (remove->parsed())
            return removeSet(options, setWord);
        if (addFolderCommand->parsed())
            return addFolder(options, folder, setWord);
        if (log->parsed())
            return viewLog(options, setWord);
        if (about->parsed())
            return showAbout(options);
#ifdef ULV_WEB_UI
        if (ui->parsed())
            return runWindow(options, port, !noBrowser);
#endif
        return runSets(options, all, sets);
    } catch (const HostError& e) {
        std::fprintf(stderr, "ulvaren: %s\n", e.message.c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ulvaren: internal error: %s\n", e.what());
        return 1;
    }
}
