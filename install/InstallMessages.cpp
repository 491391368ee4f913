#include "install/InstallMessages.h"

#include "sentences/Sentences.h"

std::string InstallFailureSentence(const InstallFailure& failure, const std::string& name)
{
    if (failure.step == InstallFailure::kJournal)
        return sentence::JournalNotWritten(sentence::FailureReason(failure.error));
    return sentence::CannotInstall(name, sentence::FailureReason(failure.error));
}
