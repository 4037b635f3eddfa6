#include "station/PostgresSchema.h"

namespace kestrel {

const std::vector<std::string>& SchemaMigrations() {
    static const std::vector<std::string> migrations{
        // 1: the records, each once, keyed by its own hash; the columns a question asks by are indexed.
        R"(CREATE TABLE kestrel_records (
             id bigserial PRIMARY KEY,
             record_sha256 char(64) NOT NULL UNIQUE,
             prev_sha256 char(64) NOT NULL,
             kind text NOT NULL CHECK (kind IN ('started', 'result')),
             time timestamptz NOT NULL,
             station text, operator text, lot text, port text, box text, serial text, label text,
             attempt integer,
             firmware_sha256 char(64), image_sha256 char(64),
             outcome text, exit_status integer, seconds double precision, stage text,
             stored timestamptz NOT NULL DEFAULT now(),
             record jsonb NOT NULL,
             text bytea NOT NULL);
           CREATE INDEX kestrel_records_lot ON kestrel_records (lot, time);
           CREATE INDEX kestrel_records_time ON kestrel_records (time);
           CREATE INDEX kestrel_records_station ON kestrel_records (station, time);
           CREATE INDEX kestrel_records_box ON kestrel_records (box);
           CREATE INDEX kestrel_records_serial ON kestrel_records (serial);)",
        // 2: one row per download: its result, or its started record alone when the run never wrote one.
        R"(CREATE VIEW kestrel_downloads AS
             SELECT time, station, operator, lot, port, box, serial, label, firmware_sha256, image_sha256,
                    outcome, exit_status, stage, attempt, record_sha256
               FROM kestrel_records WHERE kind = 'result'
             UNION ALL
             SELECT s.time, s.station, s.operator, s.lot, s.port, s.box, s.serial, s.label, s.firmware_sha256,
                    s.image_sha256, 'unfinished', NULL, NULL, s.attempt, s.record_sha256
               FROM kestrel_records s
              WHERE s.kind = 'started' AND NOT EXISTS (
                    SELECT 1 FROM kestrel_records r
                     WHERE r.kind = 'result' AND r.time = s.time AND r.port IS NOT DISTINCT FROM s.port
                       AND r.station IS NOT DISTINCT FROM s.station AND r.lot IS NOT DISTINCT FROM s.lot);)",
        // 3: a station asks whether a box's label passed anywhere before it flashes the box.
        R"(CREATE INDEX kestrel_records_label ON kestrel_records (label);)",
    };
    return migrations;
}

}  // namespace kestrel
