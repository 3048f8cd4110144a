// verove-scenario: prints the scenario the generator draws from a seed, for verove-host --scenario.
#include <QJsonDocument>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "scenariogenerator.h"

int main(int argc, char** argv) {
    char* end = nullptr;
    const unsigned long long seed = argc == 2 ? std::strtoull(argv[1], &end, 10) : 0;
    if (argc != 2 || !end || *end != '\0' || argv[1][0] == '-' || argv[1][0] == '\0') {
        std::fprintf(stderr,
                     "usage: verove-scenario SEED  (prints a generated scenario as JSON)\n");
        return 2;
    }
    const QByteArray json = QJsonDocument(GenerateScenario(seed)).toJson(QJsonDocument::Indented);
    std::fwrite(json.constData(), 1, static_cast<std::size_t>(json.size()), stdout);
    return 0;
}
