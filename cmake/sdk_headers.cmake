# The headers a host builds against, installed under include/edr_telemetry/
# with the paths they include each other by: the object model and result
# codes, the entry points and class ids, the services a host provides (and
# the ids it registers them under), and the task, settings and
# consumers-manager interfaces it calls. Nothing of the component's inside;
# every header here must compile with only the others here and the standard
# library (the install test checks that).
set(EDR_SDK_HEADERS
  component/oru/include/component/oru/certificate_status.h
  component/oru/include/component/oru/class_ids.h
  component/oru/include/component/oru/http_client_settings.h
  component/oru/include/component/oru/http_header.h
  component/oru/include/component/oru/http_method.h
  component/oru/include/component/oru/http_request_options.h
  component/oru/include/component/oru/http_result.h
  component/oru/include/component/oru/i_certificate_verification_callback.h
  component/oru/include/component/oru/i_client_certificate_decryptor.h
  component/oru/include/component/oru/i_connected_sink.h
  component/oru/include/component/oru/i_connection_error_sink.h
  component/oru/include/component/oru/i_data_folder_service.h
  component/oru/include/component/oru/i_event_source.h
  component/oru/include/component/oru/i_http_client.h
  component/oru/include/component/oru/i_http_client_factory.h
  component/oru/include/component/oru/i_http_request_callback.h
  component/oru/include/component/oru/i_http_request_controller.h
  component/oru/include/component/oru/i_incorrect_settings_sink.h
  component/oru/include/component/oru/i_object.h
  component/oru/include/component/oru/i_response_server_event_handler.h
  component/oru/include/component/oru/i_sensitive_data_policy.h
  component/oru/include/component/oru/i_service_locator.h
  component/oru/include/component/oru/i_syslog_message_suffix.h
  component/oru/include/component/oru/i_task.h
  component/oru/include/component/oru/i_tracer.h
  component/oru/include/component/oru/module_entry_points.h
  component/oru/include/component/oru/ref_ptr.h
  component/oru/include/component/oru/result_code.h
  component/oru/include/component/oru/service_ids.h
  component/sendara/edr_telemetry/source/client/telemetry/ioa.h
  component/sendara/edr_telemetry/source/consumers_manager/consumer_event_type_settings.h
  component/sendara/edr_telemetry/source/consumers_manager/event_type_setting.h
  component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumer.h
  component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_changed_event.h
  component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_manager.h
  component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_provider.h
  component/sendara/edr_telemetry/source/task/edr_telemetry_delivery_counts.h
  component/sendara/edr_telemetry/source/task/edr_telemetry_task_settings.h
  component/sendara/edr_telemetry/source/task/i_edr_telemetry_task_counts.h
  component/sendara/edr_telemetry/source/task/i_edr_telemetry_task_settings.h)
