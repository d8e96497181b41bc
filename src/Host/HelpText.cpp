#include "Host/HelpText.h"

#ifndef KEF_VERSION
#define KEF_VERSION "unknown"
#endif

namespace kefhost {

const char* usageText() {
  return "Usage: kefhost run --plugin PATH --service-data FILE [--service-data FILE ...]\n"
         "                   [--passes N] [--for SECONDS] [--quiet | --json]\n"
         "       kefhost --help | --version\n"
         "\n"
         "Loads a service plug-in and runs one service per service-data file, all in\n"
         "this process, until each is told to finish and its workflow has ended.\n"
         "\n"
         "Options of run:\n"
         "  --plugin PATH        the plug-in library; it exports create_service and\n"
         "                       delete_service\n"
         "  --service-data FILE  the data (XML) of one service; repeat it for more\n"
         "                       services, numbered [1], [2], ... in this order\n"
         "  --passes N           finish each service once it has reported N passes\n"
         "  --for SECONDS        finish every service after SECONDS (fractions allowed)\n"
         "  --quiet              no progress lines\n"
         "  --json               progress as one JSON object per line\n"
         "Without --passes or --for the services run until SIGINT or SIGTERM, or until\n"
         "every workflow has ended by itself.\n"
         "\n"
         "Signals:\n"
         "  SIGINT, SIGTERM  finish every service and wait for its workflow to end;\n"
         "                   a second one stops waiting\n"
         "  SIGUSR1          pause every service\n"
         "  SIGUSR2          resume every paused service\n"
         "\n"
         "Output: one line per status report on standard output, for example\n"
         "  AUTODELETE[1] pass 3: scanned 4000, deleted 1200, freed 5.0 MiB, errors 0\n"
         "  AUTODELETE[1] DONE: OK\n"
         "With --json the same reports as objects with the fields service, index,\n"
         "serviceID, status, pass, scanned, deleted, bytesFreed, dirsRemoved, errors,\n"
         "dryRun, failed, state, text and detail (those a report has). Problems go to\n"
         "standard error.\n"
         "\n"
         "Environment:\n"
         "  KEF_CONFIGURATION     folder of the framework configuration\n"
         "                        (KEFConfiguration.xml); built-in defaults when missing\n"
         "  KEF_REQUEST_DATABASE  the request database the status reports pass through\n"
         "  TMPDIR                where the defaults put their log\n"
         "\n"
         "Exit status:\n"
         "  0  every workflow ended in its terminal state\n"
         "  1  a workflow ended in another state or could not start\n"
         "  2  usage error, or the plug-in or a service-data file could not be loaded\n"
         "  3  a second SIGINT or SIGTERM stopped the wait for a workflow\n"
         "\n"
         "Examples:\n"
         "  kefhost run --plugin /usr/local/lib/libtq_AutoDelService.so \\\n"
         "      --service-data /etc/kef/autodelete-service.xml\n"
         "  kefhost run --plugin ./libtq_AutoDelService.so --service-data cache.xml \\\n"
         "      --service-data spool.xml --passes 1 --json\n"
         "  kefhost run --plugin ./libtq_AutoDelService.so --service-data cache.xml \\\n"
         "      --for 60 --quiet\n"
         "  kill -USR1 $(pidof kefhost)    # pause, later -USR2 to resume\n";
}

const char* versionText() { return "kefhost " KEF_VERSION; }

}  // namespace kefhost
