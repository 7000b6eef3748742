#include "engine/walks/volume_facts.h"

#include "engine/rules/entry_rules.h"

VolumeFacts AskVolumes(WorkerContext& context) {
  TimeKeeping source = kFineTimes;
  TimeKeeping destination = kFineTimes;
  context.files->TimesKept(context.source, &source);
  const bool told = context.files->TimesKept(context.destination, &destination);
  return {context.files->IgnoresCase(context.destination, true), CoarserTimes(source, destination),
          told};
}
