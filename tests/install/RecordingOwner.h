#pragma once
// An IOwner, progress bar and label for tests: they record what the installers do to them.

#include <string>
#include <vector>

#include "install/Status.h"

class CRecordingLabel : public ILabel {
  public:
    void SetVisible(bool visible) override;
    bool IsVisible() const override { return m_visible; }
    void SetCaption(const std::string& caption) override;
    std::string Caption() const override { return m_caption; }

    std::vector<std::string> captions;    // every caption set, in order
    std::vector<bool> visibilityChanges;  // every SetVisible, in order

  private:
    bool m_visible = false;
    std::string m_caption;
};

class CRecordingBar : public IProgressBar {
  public:
    void SetVisible(bool visible) override { m_visible = visible; }
    bool IsVisible() const override { return m_visible; }
    int Maximum() const override { return m_maximum; }
    int Position() const override { return m_position; }
    void SetMaximum(int maximum) override;
    void SetPosition(int position) override;

    std::vector<int> maximums;  // every maximum set, in order

  private:
    bool m_visible = true;
    int m_maximum = 100;
    int m_position = 0;
};

class CRecordingOwner : public IOwner {
  public:
    explicit CRecordingOwner(std::string programDirectory = {})
        : m_programDirectory(std::move(programDirectory)) {}

    void AppendLine(const std::string& text) override { journal.push_back(text); }
    void MarkLastLine(const std::string& suffix) override;
    void PumpMessages() override { ++pumps; }
    std::string CurrentLogPath() const override { return m_logPath; }
    void SetCurrentLogPath(const std::string& path) override { m_logPath = path; }
    std::string ProgramDirectory() const override { return m_programDirectory; }

    std::vector<std::string> journal;
    int pumps = 0;

  private:
    std::string m_programDirectory;
    std::string m_logPath;
};
