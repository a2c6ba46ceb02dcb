// The headless program run as a user runs it: its exit code, whether it
// crashed, and what it wrote, for the tests that start it.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct program_result {
  int exit_code = -1;
  bool crashed = false;
  QByteArray out;
  QByteArray err;
};

// Runs HEADLESS_PROGRAM in working_dir; a run that has not ended within three
// minutes (a hang: the runs here take seconds) is killed and fails the test.
inline program_result run_program(
    const QStringList& args, const QString& working_dir,
    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
  QProcess process;
  process.setProgram(HEADLESS_PROGRAM);
  process.setArguments(args);
  process.setWorkingDirectory(working_dir);
  process.setProcessEnvironment(env);
  process.start();
  program_result result;
  if (!process.waitForStarted(10000) || !process.waitForFinished(180000)) {
    process.kill();
    process.waitForFinished();
    ADD_FAILURE() << "the program did not run to its end";
    return result;
  }
  result.crashed = process.exitStatus() != QProcess::NormalExit;
  result.exit_code = process.exitCode();
  result.out = process.readAllStandardOutput();
  result.err = process.readAllStandardError();
  return result;
}
