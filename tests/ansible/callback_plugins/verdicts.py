# A stdout callback that ships with the test, so that the test needs nothing beyond ansible-core
# installed without its recommended packages (which has no json callback).
# One line per loop item, tab-separated: ITEM, the task's name, ok|changed|failed, the item as
# JSON; every other failure is printed whole, so that a broken run explains itself.
import json

from ansible.plugins.callback import CallbackBase


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'stdout'
    CALLBACK_NAME = 'verdicts'

    def _item(self, result, verdict):
        item = result._result.get('item')
        print('ITEM\t%s\t%s\t%s' % (result._task.name, verdict, json.dumps(item, sort_keys=True)),
              flush=True)

    def v2_runner_item_on_ok(self, result):
        self._item(result, 'changed' if result._result.get('changed') else 'ok')

    def v2_runner_item_on_failed(self, result):
        self._item(result, 'failed')

    def v2_runner_on_failed(self, result, ignore_errors=False):
        if 'results' in result._result:
            return
        print('FAILED %s %s' % (result._task.get_name(),
                                json.dumps(result._result, sort_keys=True, default=str)), flush=True)

    def v2_runner_on_unreachable(self, result):
        print('UNREACHABLE %s' % json.dumps(result._result, sort_keys=True, default=str), flush=True)

    def v2_playbook_on_stats(self, stats):
        for host in sorted(stats.processed.keys()):
            print('STATS %s %s' % (host, json.dumps(stats.summarize(host), sort_keys=True)), flush=True)
