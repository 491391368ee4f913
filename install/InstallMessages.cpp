#include "install/InstallMessages.h"

#include "sentences/Sentences.h"

std::string JournalNotWrittenSentence(int error)
{
    return sentence::JournalNotWritten(sentence::FailureReason(error));
}

std::string CannotInstallSentence(const std::string& name, int error)
{
    return sentence::CannotInstall(name, sentence::FailureReason(error));
}
